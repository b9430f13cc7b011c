// UndoLog: records in one growing array, their texts and data in one growing
// block, both doubled as needed; the replay of a record against the
// registry.
#include "registrar/undo_log.h"

#include <string.h>

#include "base/result_macros.h"
#include "registrar/key_holder.h"

namespace {

constexpr size_t kInitialRecords = 32;
constexpr size_t kInitialBytes = 1024;
constexpr size_t kMaxSize = static_cast<size_t>(-1);

// The smallest doubling of capacity (start when it is 0) that holds needed;
// 0 when none fits in a size_t.
size_t Grown(size_t capacity, size_t start, size_t needed) {
  size_t grown = capacity != 0 ? capacity : start;
  while (grown < needed) {
    if (grown > kMaxSize / 2) return 0;
    grown *= 2;
  }
  return grown;
}

}  // namespace

UndoLog::~UndoLog() {
  m_allocator.free(m_records);
  m_allocator.free(m_text);
}

HRESULT UndoLog::Reserve(size_t records, size_t bytes) {
  RETURN_HR_IF(E_OUTOFMEMORY, records > kMaxSize / sizeof(Record) - m_count ||
                                  bytes > kMaxSize - m_used);
  if (m_count + records > m_recordCapacity) {
    const size_t grown =
        Grown(m_recordCapacity, kInitialRecords, m_count + records);
    RETURN_HR_IF(E_OUTOFMEMORY,
                 grown == 0 || grown > kMaxSize / sizeof(Record));
    void* block = m_allocator.reallocate(m_records, grown * sizeof(Record));
    RETURN_IF_NULL_ALLOC(block);
    m_records = static_cast<Record*>(block);
    m_recordCapacity = grown;
  }
  if (m_used + bytes > m_textCapacity) {
    const size_t grown = Grown(m_textCapacity, kInitialBytes, m_used + bytes);
    RETURN_HR_IF(E_OUTOFMEMORY, grown == 0);
    void* block = m_allocator.reallocate(m_text, grown);
    RETURN_IF_NULL_ALLOC(block);
    m_text = static_cast<char*>(block);
    m_textCapacity = grown;
  }
  return S_OK;
}

size_t UndoLog::Append(const void* bytes, size_t count) {
  const size_t offset = m_used;
  if (count != 0) memcpy(m_text + m_used, bytes, count);
  m_used += count;
  return offset;
}

HRESULT UndoLog::Add(Undo undo, const char* path, const char* valueName,
                     DWORD type, const BYTE* data, DWORD size) {
  const char* name = valueName != nullptr ? valueName : "";
  const size_t pathBytes = strlen(path) + 1;
  const size_t nameBytes = strlen(name) + 1;
  RETURN_IF_FAILED(Reserve(1, pathBytes + nameBytes + size));
  Record& record = m_records[m_count];
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

void UndoLog::Replay(const Record& record) const {
  const char* path = m_text + record.path;
  if (record.undo == Undo::kDeleteKey) {
    // Only the key itself: whatever the run put below it is gone by now,
    // and anything else below it is not the run's to remove.
    RegDeleteKeyA(record.root, path);
    return;
  }
  if (record.undo == Undo::kCreateKey) {
    HKEY created = nullptr;
    if (RegCreateKeyExA(record.root, path, /*Reserved=*/0, /*lpClass=*/nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        /*lpSecurityAttributes=*/nullptr, &created,
                        /*lpdwDisposition=*/nullptr) == ERROR_SUCCESS) {
      KeyHolder key;
      key.Replace(created);
    }
    return;
  }
  KeyHolder key;
  if (OpenKeyInto(key, record.root, path, KEY_SET_VALUE) != ERROR_SUCCESS) {
    return;
  }
  const char* valueName = m_text + record.valueName;
  if (record.undo == Undo::kDeleteValue) {
    RegDeleteValueA(key.Get(), valueName);
  } else {
    RegSetValueExA(key.Get(), valueName, /*Reserved=*/0, record.type,
                   reinterpret_cast<const BYTE*>(m_text + record.data),
                   record.size);
  }
}

void UndoLog::UndoTo(const Mark& mark) {
  while (m_count > mark.records) Replay(m_records[--m_count]);
  ForgetTo(mark);
}

void UndoLog::ForgetTo(const Mark& mark) {
  if (mark.records < m_count) m_count = mark.records;
  if (mark.bytes < m_used) m_used = mark.bytes;
}
