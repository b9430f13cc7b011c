// KeyHasSubkeys, KeyHasNamedValues: the two questions unregistration asks
// before it deletes a key.
#include "registrar/key_tree.h"

#include "base/result_macros.h"
#include "registrar/registry_failure.h"

namespace {

constexpr DWORD kValueNameBufferSize = 4096;

}  // namespace

HRESULT KeyHasSubkeys(HKEY key, bool* has) {
  *has = false;
  DWORD subkeys = 0;
  const LSTATUS status =
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  RETURN_IF_FAILED(FailureOfRegistry(status));
  *has = status == ERROR_SUCCESS && subkeys > 0;
  return S_OK;
}

HRESULT KeyHasNamedValues(HKEY key, bool* has) {
  *has = false;
  DWORD values = 0;
  const LSTATUS status =
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  RETURN_IF_FAILED(FailureOfRegistry(status));
  if (status != ERROR_SUCCESS || values == 0) return S_OK;
  if (values > 1) {
    *has = true;
    return S_OK;
  }

  char name[kValueNameBufferSize];
  DWORD size = kValueNameBufferSize;
  const LSTATUS listed =
      RegEnumValueA(key, 0, name, &size, /*lpReserved=*/nullptr,
                    /*lpType=*/nullptr, /*lpData=*/nullptr,
                    /*lpcbData=*/nullptr);
  RETURN_IF_FAILED(FailureOfRegistry(listed));
  *has = listed == ERROR_SUCCESS && name[0] != '\0';
  return S_OK;
}
