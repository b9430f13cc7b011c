// UndoLog: records in one growable array, their texts and data in one
// growable block; the replay of a record against the registry, each of its
// steps checked.
#include "registrar/undo_log.h"

#include <string.h>

#include "base/result_macros.h"
#include "registrar/key_holder.h"

namespace {

constexpr size_t kInitialRecords = 32;
constexpr size_t kInitialBytes = 1024;
constexpr size_t kMaxSize = static_cast<size_t>(-1);

}  // namespace

UndoLog::UndoLog(const Allocator& allocator)
    : m_records(allocator, kInitialRecords * sizeof(Record)),
      m_text(allocator, kInitialBytes) {}

size_t UndoLog::Append(const void* bytes, size_t count) {
  const size_t offset = m_used;
  if (count != 0) memcpy(Text() + m_used, bytes, count);
  m_used += count;
  return offset;
}

HRESULT UndoLog::Add(Undo undo, const char* path, const char* valueName,
                     DWORD type, const BYTE* data, DWORD size) {
  const char* name = valueName != nullptr ? valueName : "";
  const size_t pathBytes = strlen(path) + 1;
  const size_t nameBytes = strlen(name) + 1;
  // The two texts are in memory already, so only the data can make the
  // sum wrap round.
  RETURN_HR_IF(E_OUTOFMEMORY, size > kMaxSize - pathBytes - nameBytes);
  RETURN_IF_FAILED(m_records.Reserve(m_count * sizeof(Record), sizeof(Record)));
  RETURN_IF_FAILED(m_text.Reserve(m_used, pathBytes + nameBytes + size));
  Record& record = Records()[m_count];
  record.root = m_root;
  record.undo = undo;
  record.type = type;
  record.size = size;
  record.path = Append(path, pathBytes);
  record.valueName = Append(name, nameBytes);
  record.data = Append(data, size);
  ++m_count;
  return S_OK;
}

HRESULT UndoLog::KeyCreated(const char* path) {
  return Add(Undo::kDeleteKey, path, nullptr, REG_NONE, nullptr, 0);
}

HRESULT UndoLog::KeyRemoved(const char* path) {
  return Add(Undo::kCreateKey, path, nullptr, REG_NONE, nullptr, 0);
}

HRESULT UndoLog::ValueAdded(const char* path, const char* valueName) {
  return Add(Undo::kDeleteValue, path, valueName, REG_NONE, nullptr, 0);
}

HRESULT UndoLog::ValueHeld(const char* path, const char* valueName, DWORD type,
                           const BYTE* data, DWORD size) {
  return Add(Undo::kSetValue, path, valueName, type, data, size);
}

HRESULT UndoLog::Replay(const Record& record) const {
  const char* path = Text() + record.path;
  if (record.undo == Undo::kDeleteKey) {
    // Only the key itself: whatever the run put below it is gone by now,
    // and anything else below it is not the run's to remove. A key that is
    // gone already is as the roll-back wants it.
    const LSTATUS deleted = RegDeleteKeyA(record.root, path);
    if (deleted == ERROR_FILE_NOT_FOUND) return S_OK;
    RETURN_IF_FAILED(HResultFromWin32(deleted));
    return S_OK;
  }
  if (record.undo == Undo::kCreateKey) {
    HKEY created = nullptr;
    RETURN_IF_FAILED(HResultFromWin32(RegCreateKeyExA(
        record.root, path, /*Reserved=*/0, /*lpClass=*/nullptr,
        REG_OPTION_NON_VOLATILE, KEY_WRITE, /*lpSecurityAttributes=*/nullptr,
        &created, /*lpdwDisposition=*/nullptr)));
    KeyHolder key;
    RETURN_IF_FAILED(HResultFromWin32(key.Replace(created)));
    RETURN_IF_FAILED(HResultFromWin32(key.Close()));
    return S_OK;
  }
  return RestoreValue(record);
}

HRESULT UndoLog::RestoreValue(const Record& record) const {
  KeyHolder key;
  const LSTATUS opened =
      OpenKeyInto(key, record.root, Text() + record.path, KEY_SET_VALUE);
  // A value the run added to a key that is gone is gone with it.
  if (opened == ERROR_FILE_NOT_FOUND && record.undo == Undo::kDeleteValue) {
    return S_OK;
  }
  RETURN_IF_FAILED(HResultFromWin32(opened));
  const char* valueName = Text() + record.valueName;
  if (record.undo == Undo::kDeleteValue) {
    const LSTATUS deleted = RegDeleteValueA(key.Get(), valueName);
    if (deleted != ERROR_FILE_NOT_FOUND) {
      RETURN_IF_FAILED(HResultFromWin32(deleted));
    }
  } else {
    RETURN_IF_FAILED(HResultFromWin32(RegSetValueExA(
        key.Get(), valueName, /*Reserved=*/0, record.type,
        reinterpret_cast<const BYTE*>(Text() + record.data), record.size)));
  }
  RETURN_IF_FAILED(HResultFromWin32(key.Close()));
  return S_OK;
}

HRESULT UndoLog::UndoTo(const Mark& mark) {
  HRESULT first = S_OK;
  while (m_count > mark.records) {
    // Every record is replayed, whatever became of the ones before it.
    const HRESULT replayed = Replay(Records()[--m_count]);
    if (SUCCEEDED(first)) first = replayed;
  }
  ForgetTo(mark);
  return first;
}

void UndoLog::ForgetTo(const Mark& mark) {
  if (mark.records < m_count) m_count = mark.records;
  if (mark.bytes < m_used) m_used = mark.bytes;
}
