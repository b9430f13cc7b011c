// Reads what the runtime needs from HKEY_CLASSES_ROOT: the default string
// of a key. Where the caller takes expandable strings (a server's path), a
// REG_EXPAND_SZ value has its %NAME% references expanded as
// ExpandEnvironmentStringsA expands them; elsewhere it counts as no string.
// Every lookup goes through the registry's own HKEY_CLASSES_ROOT, so it sees
// whatever view of the classes that key gives.
#include <algorithm>
#include <vector>

#include "ole32_internal.h"

namespace qxplatform {
namespace internal {

namespace {

bool IsStringType(DWORD type, StringKinds kinds) {
  return type == REG_SZ ||
         (type == REG_EXPAND_SZ && kinds == StringKinds::kExpandable);
}

// False when the expansion cannot be made (out of memory).
bool ExpandInPlace(std::string* text) {
  DWORD needed = ExpandEnvironmentStringsA(text->c_str(), nullptr, 0);
  if (needed == 0) return false;
  std::vector<char> expanded(needed);
  // The environment may grow between the two calls; a second miss fails.
  DWORD written =
      ExpandEnvironmentStringsA(text->c_str(), expanded.data(), needed);
  if (written == 0 || written > needed) return false;
  text->assign(expanded.data());
  return true;
}

}  // namespace

RegistryString ReadClassesRootString(const std::string& path,
                                     std::string* value, StringKinds kinds) {
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
  if (status == ERROR_SUCCESS && IsStringType(type, kinds) && size != 0) {
    data.resize(size);
    status = RegQueryValueExA(key, /*lpValueName=*/nullptr,
                              /*lpReserved=*/nullptr, &type,
                              reinterpret_cast<LPBYTE>(data.data()), &size);
  }
  RegCloseKey(key);
  if (status == ERROR_FILE_NOT_FOUND) return RegistryString::kMissing;
  if (status != ERROR_SUCCESS || !IsStringType(type, kinds))
    return RegistryString::kNotAString;
  std::string text(data.data(), std::min<size_t>(size, data.size()));
  text.resize(std::min(text.find('\0'), text.size()));
  if (type == REG_EXPAND_SZ && !ExpandInPlace(&text))
    return RegistryString::kNotAString;
  if (text.empty()) return RegistryString::kMissing;
  *value = text;
  return RegistryString::kFound;
}

HRESULT ReadClassEntry(REFCLSID clsid, const char* subkey, std::string* value,
                       StringKinds kinds) {
  switch (ReadClassesRootString("CLSID\\" + GuidText(clsid) + "\\" + subkey,
                                value, kinds)) {
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
