// Walking a key's subkeys and values by index, as RegEnumKeyExA and
// RegEnumValueA ask for them, and the counts and longest sizes
// RegQueryInfoKeyA reports. A walk through one handle steps from where the
// last call stopped, so each index costs one step of the database's index.
#pragma once
#include <string>

#include "registry_store.h"

namespace qxplatform {
namespace internal {

struct SubkeyEntry {
  std::u16string name;
  FILETIME lastWrite{};
};

// The subkey at index in name order, or ERROR_NO_MORE_ITEMS.
LSTATUS SubkeyAt(RegistryReader& door, KeyId key, DWORD index,
                 EnumCursor* cursor, SubkeyEntry* entry);
// The same through the classes view: the two trees' subkeys merged in name
// order, a user's key hiding the machine's of the same name.
LSTATUS ViewSubkeyAt(RegistryReader& door, const ViewKey& key, DWORD index,
                     EnumCursor* cursor, SubkeyEntry* entry);
// The value at index in the order values were first set, or
// ERROR_NO_MORE_ITEMS.
LSTATUS ValueAt(RegistryReader& door, KeyId key, DWORD index,
                EnumCursor* cursor, RegValue* value);

// What a key's row keeps of its children (registry_schema.cpp's triggers):
// the counts exact, the longest figures never less than the longest child's
// (they do not shrink when that child goes), so always enough for a buffer.
struct KeyCounts {
  DWORD subkeys = 0;
  DWORD longestSubkeyName = 0;  // ANSI bytes, at least
  DWORD values = 0;
  DWORD longestValueName = 0;  // ANSI bytes, at least
  DWORD longestData = 0;       // stored bytes, at least
};
// One read of the key's row, whatever its size.
LSTATUS CountKey(RegistryDb& db, KeyId key, KeyCounts* counts);
// The counts of a key of the classes view: the merged subkeys, the values
// of the key it shows; costs a walk of the user's key's subkeys.
LSTATUS CountViewKey(RegistryDb& db, const ViewKey& key, KeyCounts* counts);

}  // namespace internal
}  // namespace qxplatform
