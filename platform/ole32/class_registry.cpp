// Reads what the runtime needs from HKEY_CLASSES_ROOT: the default string
// of a key. REG_EXPAND_SZ is not expanded here, so it counts as no string.
#include <algorithm>
#include <vector>

#include "ole32_internal.h"

namespace qxplatform {
namespace internal {

RegistryString ReadClassesRootString(const std::string& path,
                                     std::string* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), /*ulOptions=*/0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return RegistryString::kMissing;
  DWORD type = REG_NONE;
  DWORD size = 0;
  LSTATUS status = RegQueryValueExA(key, /*lpValueName=*/nullptr,
                                    /*lpReserved=*/nullptr, &type,
                                    /*lpData=*/nullptr, &size);
  std::vector<char> data;
  // The value may change between the two calls; a second miss is a failure.
  if (status == ERROR_SUCCESS && type == REG_SZ && size != 0) {
    data.resize(size);
    status = RegQueryValueExA(key, /*lpValueName=*/nullptr,
                              /*lpReserved=*/nullptr, &type,
                              reinterpret_cast<LPBYTE>(data.data()), &size);
  }
  RegCloseKey(key);
  if (status == ERROR_FILE_NOT_FOUND) return RegistryString::kMissing;
  if (status != ERROR_SUCCESS || type != REG_SZ)
    return RegistryString::kNotAString;
  std::string text(data.data(), std::min<size_t>(size, data.size()));
  text.resize(std::min(text.find('\0'), text.size()));
  if (text.empty()) return RegistryString::kMissing;
  *value = text;
  return RegistryString::kFound;
}

HRESULT ReadClassEntry(REFCLSID clsid, const char* subkey, std::string* value) {
  switch (ReadClassesRootString("CLSID\\" + GuidText(clsid) + "\\" + subkey,
                                value)) {
    case RegistryString::kFound:
      return S_OK;
    case RegistryString::kMissing:
      return REGDB_E_CLASSNOTREG;
    case RegistryString::kNotAString:
      break;
  }
  return REGDB_E_READREGDB;
}

}  // namespace internal
}  // namespace qxplatform
