// CreateKeyRecorded, SetValueRecorded, RemoveKeyTreeRecorded: each reads
// what is there, records it in the undo log, then changes the registry, and
// forgets the record when the registry refuses the change.
#include "registrar/recorded_changes.h"

#include "base/holders.h"
#include "base/result_macros.h"
#include "registrar/key_holder.h"
#include "registrar/key_path.h"
#include "registrar/registry_failure.h"
#include "registrar/undo_log.h"

namespace {

constexpr REGSAM kFullAccess = KEY_ALL_ACCESS;
constexpr REGSAM kTreeDeleteAccess = KEY_READ | KEY_WRITE;
// Registry key names hold at most 255 characters, which the ANSI entry
// points hand out as up to two bytes each in a double-byte code page; a
// smaller buffer would stop the enumeration at such a name and leave the
// tree standing.
constexpr DWORD kMaxKeyNameCharacters = 255;
constexpr DWORD kSubkeyNameBufferSize = 2 * kMaxKeyNameCharacters + 2;

// Records what valueName of key holds: its type and data, or that it is not
// there. *recorded is false, with nothing recorded, when the registry
// refuses the read; a registry that fails fails the call.
HRESULT RecordValue(ChangeRecorder& changes, HKEY key, const char* valueName,
                    bool* recorded) {
  *recorded = false;
  DWORD type = REG_NONE;
  DWORD size = 0;
  LSTATUS status = RegQueryValueExA(key, valueName, /*lpReserved=*/nullptr,
                                    &type, /*lpData=*/nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) {
    RETURN_IF_FAILED(changes.log.ValueAdded(changes.path.Text(), valueName));
    *recorded = true;
    return S_OK;
  }
  RETURN_IF_FAILED(FailureOfRegistry(status));
  if (status != ERROR_SUCCESS) return S_OK;
  // The size asked for first may be more than the data (text handed out in
  // the ANSI code page); what is recorded is what the read gives.
  AllocatorBlock data(changes.allocator, size != 0 ? size : 1);
  RETURN_IF_NULL_ALLOC(data.get());
  DWORD read = size;
  status = RegQueryValueExA(key, valueName, /*lpReserved=*/nullptr, &type,
                            static_cast<BYTE*>(data.get()), &read);
  RETURN_IF_FAILED(FailureOfRegistry(status));
  if (status != ERROR_SUCCESS) return S_OK;
  RETURN_IF_FAILED(changes.log.ValueHeld(changes.path.Text(), valueName, type,
                                         static_cast<const BYTE*>(data.get()),
                                         read));
  *recorded = true;
  return S_OK;
}

// Records every value of key (whose path is changes.path) so that they come
// back in their order after the key is made again: the replay runs newest
// first, so the last value is recorded first. *recorded is false when the
// registry refused reading them all; the caller forgets what was recorded
// then. A registry that fails fails the call.
HRESULT RecordValues(ChangeRecorder& changes, HKEY key, bool* recorded) {
  *recorded = false;
  DWORD values = 0;
  DWORD longestName = 0;
  DWORD longestData = 0;
  const LSTATUS queried =
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, &values, &longestName, &longestData, nullptr,
                       nullptr);
  RETURN_IF_FAILED(FailureOfRegistry(queried));
  if (queried != ERROR_SUCCESS) return S_OK;
  // The longest name may be counted in characters, each up to two bytes
  // in a double-byte code page.
  const DWORD nameCapacity = 2 * longestName + 2;
  AllocatorBlock nameBlock(changes.allocator, nameCapacity);
  AllocatorBlock dataBlock(changes.allocator,
                           longestData != 0 ? longestData : 1);
  RETURN_IF_NULL_ALLOC(nameBlock.get());
  RETURN_IF_NULL_ALLOC(dataBlock.get());
  char* name = static_cast<char*>(nameBlock.get());
  BYTE* data = static_cast<BYTE*>(dataBlock.get());
  for (DWORD index = values; index-- > 0;) {
    DWORD nameSize = nameCapacity;
    DWORD type = REG_NONE;
    DWORD size = longestData;
    const LSTATUS listed =
        RegEnumValueA(key, index, name, &nameSize, /*lpReserved=*/nullptr,
                      &type, data, &size);
    RETURN_IF_FAILED(FailureOfRegistry(listed));
    if (listed != ERROR_SUCCESS) return S_OK;
    RETURN_IF_FAILED(
        changes.log.ValueHeld(changes.path.Text(), name, type, data, size));
  }
  *recorded = true;
  return S_OK;
}

// The removal of name and everything below it, depth first, each key going
// once its subkeys have; changes.path is name's own path here. *status is
// the registry's answer at the first step it refused, which stops the
// removal; a registry that fails fails the call instead, so the block the
// removal belongs to is taken back.
HRESULT RemoveTree(ChangeRecorder& changes, HKEY parent, const char* name,
                   LSTATUS* status) {
  KeyHolder key;
  *status = OpenKeyInto(key, parent, name, kTreeDeleteAccess);
  RETURN_IF_FAILED(FailureOfRegistry(*status));
  if (*status != ERROR_SUCCESS) return S_OK;

  // Each pass removes the first subkey, so index 0 is asked again.
  for (;;) {
    char subkey[kSubkeyNameBufferSize];
    DWORD size = kSubkeyNameBufferSize;
    const LSTATUS listed =
        RegEnumKeyExA(key.Get(), 0, subkey, &size, /*lpReserved=*/nullptr,
                      /*lpClass=*/nullptr, /*lpcchClass=*/nullptr,
                      /*lpftLastWriteTime=*/nullptr);
    if (listed == ERROR_NO_MORE_ITEMS) break;
    // Any other stop leaves subkeys the delete below would refuse to remove
    // the key over; that is the failure to report.
    *status = listed;
    RETURN_IF_FAILED(FailureOfRegistry(listed));
    if (listed != ERROR_SUCCESS) return S_OK;
    KeyPathLevel level(changes.path);
    RETURN_IF_FAILED(level.Push(subkey));
    RETURN_IF_FAILED(RemoveTree(changes, key.Get(), subkey, status));
    if (*status != ERROR_SUCCESS) return S_OK;
  }

  PendingRecords pending(changes.log);
  bool recorded = false;
  RETURN_IF_FAILED(RecordValues(changes, key.Get(), &recorded));
  if (recorded) RETURN_IF_FAILED(changes.log.KeyRemoved(changes.path.Text()));
  key.Close();
  // A key whose values could not be read could not be made again as it
  // was: it stays.
  if (!recorded) {
    *status = ERROR_ACCESS_DENIED;
    return S_OK;
  }
  *status = RegDeleteKeyA(parent, name);
  RETURN_IF_FAILED(FailureOfRegistry(*status));
  if (*status == ERROR_SUCCESS) pending.Keep();
  return S_OK;
}

}  // namespace

HRESULT CreateKeyRecorded(ChangeRecorder& changes, HKEY parent,
                          const char* name, HKEY* key, LSTATUS* status) {
  *key = nullptr;
  PendingRecords pending(changes.log);
  RETURN_IF_FAILED(changes.log.KeyCreated(changes.path.Text()));
  DWORD disposition = 0;
  *status =
      RegCreateKeyExA(parent, name, /*Reserved=*/0, /*lpClass=*/nullptr,
                      REG_OPTION_NON_VOLATILE, kFullAccess,
                      /*lpSecurityAttributes=*/nullptr, key, &disposition);
  // A key that was there already, made since the walk looked for it, is not
  // the run's to take back.
  if (*status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY) {
    pending.Keep();
  }
  return S_OK;
}

HRESULT SetValueRecorded(ChangeRecorder& changes, HKEY key,
                         const char* valueName, DWORD type, const BYTE* data,
                         DWORD size) {
  PendingRecords pending(changes.log);
  bool recorded = false;
  RETURN_IF_FAILED(RecordValue(changes, key, valueName, &recorded));
  if (!recorded) return S_OK;
  const LSTATUS status =
      RegSetValueExA(key, valueName, /*Reserved=*/0, type, data, size);
  RETURN_IF_FAILED(FailureOfRegistry(status));
  if (status == ERROR_SUCCESS) pending.Keep();
  return S_OK;
}

HRESULT RemoveKeyTreeRecorded(ChangeRecorder& changes, HKEY parent,
                              const char* name) {
  KeyPathLevel level(changes.path);
  RETURN_IF_FAILED(level.Push(name));
  LSTATUS ignored = ERROR_SUCCESS;
  return RemoveTree(changes, parent, name, &ignored);
}
