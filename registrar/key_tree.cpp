// DeleteKeyTree, KeyHasSubkeys, KeyHasNamedValues: depth-first removal and
// the two questions unregistration asks before it deletes a key.
#include "registrar/key_tree.h"

#include "registrar/key_holder.h"

namespace {

constexpr REGSAM kTreeDeleteAccess = KEY_READ | KEY_WRITE;
// Registry key names hold at most 255 characters, which the ANSI entry
// points hand out as up to two bytes each in a double-byte code page; a
// smaller buffer would stop the enumeration at such a name and leave the
// tree standing.
constexpr DWORD kMaxKeyNameCharacters = 255;
constexpr DWORD kSubkeyNameBufferSize = 2 * kMaxKeyNameCharacters + 2;
constexpr DWORD kValueNameBufferSize = 4096;

}  // namespace

LSTATUS DeleteKeyTree(HKEY parent, const char* name) {
  KeyHolder key;
  const LSTATUS opened = OpenKeyInto(key, parent, name, kTreeDeleteAccess);
  if (opened != ERROR_SUCCESS) return opened;

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
    if (listed != ERROR_SUCCESS) return listed;
    const LSTATUS removed = DeleteKeyTree(key.Get(), subkey);
    if (removed != ERROR_SUCCESS) return removed;
  }
  key.Close();
  return RegDeleteKeyA(parent, name);
}

bool KeyHasSubkeys(HKEY key) {
  DWORD subkeys = 0;
  const LSTATUS status =
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  return status == ERROR_SUCCESS && subkeys > 0;
}

bool KeyHasNamedValues(HKEY key) {
  DWORD values = 0;
  const LSTATUS status =
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS || values == 0) return false;
  if (values > 1) return true;

  char name[kValueNameBufferSize];
  DWORD size = kValueNameBufferSize;
  const LSTATUS listed =
      RegEnumValueA(key, 0, name, &size, /*lpReserved=*/nullptr,
                    /*lpType=*/nullptr, /*lpData=*/nullptr,
                    /*lpcbData=*/nullptr);
  return listed == ERROR_SUCCESS && name[0] != '\0';
}
