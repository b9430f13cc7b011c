// What a register run has changed, in the order it changed it, with what it
// takes to put each change back: a key it created, a key it removed, a value
// it added, a value it overwrote or removed (its type and data). A roll-back
// replays the records newest first, so a key is made again before the
// values and subkeys it held, and a key the run created goes after
// everything the run put under it. Each record is made before its change,
// so a change whose record cannot be had is never made. Records and their
// texts come from the caller's allocator.
#pragma once
#include <windows.h>

#include "base/allocator.h"
#include "registrar/growable_buffer.h"

class UndoLog {
 public:
  // A place in the log: everything recorded before it.
  struct Mark {
    size_t records;
    size_t bytes;
  };

  // Records and texts come from allocator, which outlives the log.
  explicit UndoLog(const Allocator& allocator);
  UndoLog(const UndoLog&) = delete;
  UndoLog& operator=(const UndoLog&) = delete;

  // Keys recorded from now on lie under root, a predefined key, by their
  // path below it ("" for root itself).
  void SetRoot(HKEY root) { m_root = root; }

  Mark Here() const { return {m_count, m_used}; }

  // Puts back every change recorded after mark, newest first, and forgets
  // the records. A step the registry refuses is passed over, so that the
  // rest is still put back, and the first such refusal is returned: S_OK
  // only when every change came back.
  [[nodiscard]] HRESULT UndoTo(const Mark& mark);
  // Forgets the records after mark; their changes stay.
  void ForgetTo(const Mark& mark);

  // Each records one change about to be made; E_OUTOFMEMORY, with nothing
  // recorded, when the record cannot be had. A change that then does not
  // happen has its records forgotten again (PendingRecords). A null value
  // name is the key's default value.
  [[nodiscard]] HRESULT KeyCreated(const char* path);
  [[nodiscard]] HRESULT KeyRemoved(const char* path);
  [[nodiscard]] HRESULT ValueAdded(const char* path, const char* valueName);
  [[nodiscard]] HRESULT ValueHeld(const char* path, const char* valueName,
                                  DWORD type, const BYTE* data, DWORD size);

 private:
  enum class Undo { kDeleteKey, kCreateKey, kDeleteValue, kSetValue };
  struct Record {
    HKEY root;
    Undo undo;
    DWORD type;
    DWORD size;
    // Offsets into the text block: the key's path, the value's name and
    // its data.
    size_t path;
    size_t valueName;
    size_t data;
  };

  [[nodiscard]] HRESULT Add(Undo undo, const char* path, const char* valueName,
                            DWORD type, const BYTE* data, DWORD size);
  size_t Append(const void* bytes, size_t count);
  // Puts back the one change record stands for; the registry's refusal of
  // any step of that as an HRESULT. RestoreValue is the part for a value
  // the run added or changed.
  [[nodiscard]] HRESULT Replay(const Record& record) const;
  [[nodiscard]] HRESULT RestoreValue(const Record& record) const;

  Record* Records() const { return static_cast<Record*>(m_records.Data()); }
  char* Text() const { return static_cast<char*>(m_text.Data()); }

  HKEY m_root = nullptr;
  GrowableBuffer m_records;
  size_t m_count = 0;
  GrowableBuffer m_text;
  size_t m_used = 0;
};

// The records made for a change that may not happen: forgotten when the
// holder goes, on every way out, unless Keep() says the change was made.
class PendingRecords {
 public:
  explicit PendingRecords(UndoLog& log) : m_log(log), m_mark(log.Here()) {}
  ~PendingRecords() {
    if (!m_kept) m_log.ForgetTo(m_mark);
  }
  PendingRecords(const PendingRecords&) = delete;
  PendingRecords& operator=(const PendingRecords&) = delete;

  void Keep() { m_kept = true; }

 private:
  UndoLog& m_log;
  const UndoLog::Mark m_mark;
  bool m_kept = false;
};
