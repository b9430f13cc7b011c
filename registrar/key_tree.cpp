// KeyHasSubkeys, KeyHasNamedValues: the two questions unregistration asks
// before it deletes a key.
#include "registrar/key_tree.h"

namespace {

constexpr DWORD kValueNameBufferSize = 4096;

}  // namespace

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
