// Type-library causes. A class names its library by id under its CLSID key;
// the library's versions are subkeys of TypeLib\{LIBID} with hex numbers,
// the newest of which a lookup by the class would load.
#include "tools/qxhost/script/type_library_cause.h"

#include <oleauto.h>

#include <cstdio>
#include <cstdlib>

#include "tools/qxhost/text/clsid_text.h"
#include "tools/qxhost/text/engine_text.h"
#include "tools/qxhost/text/status_text.h"

namespace qxhost {
namespace {

constexpr size_t kGuidChars = 39;  // "{...}" and the terminator

// The default text of HKCR\subkey (a GUID's length at most), or false.
bool ReadClassesText(const std::string& subkey, std::string* text) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS)
    return false;
  char value[kGuidChars + 1] = {};
  DWORD type = REG_NONE;
  DWORD bytes = sizeof(value) - 1;
  const LSTATUS status = RegQueryValueExA(
      key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return false;
  *text = value;
  return true;
}

// The newest "MAJOR.MINOR" (hex) under HKCR\TypeLib\{LIBID}.
bool NewestVersion(const std::string& libid, WORD* major, WORD* minor) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ("TypeLib\\" + libid).c_str(), 0,
                    KEY_ENUMERATE_SUB_KEYS, &key) != ERROR_SUCCESS)
    return false;
  bool found = false;
  char name[64];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof(name);
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS)
      break;
    char* end = nullptr;
    const unsigned long high = std::strtoul(name, &end, 16);
    if (end == name || *end != '.' || high > 0xFFFF) continue;
    const char* low = end + 1;
    const unsigned long second = std::strtoul(low, &end, 16);
    if (end == low || *end != '\0' || second > 0xFFFF) continue;
    if (!found || high > *major || (high == *major && second > *minor)) {
      *major = static_cast<WORD>(high);
      *minor = static_cast<WORD>(second);
      found = true;
    }
  }
  RegCloseKey(key);
  return found;
}

}  // namespace

std::string TypeLibraryProblem(HRESULT hr) {
  switch (hr) {
    case TYPE_E_CANTLOADLIBRARY:
      return "it cannot be opened, or holds no type library";
    case TYPE_E_INVDATAREAD:
      return "its data is damaged or cut short";
    case TYPE_E_UNSUPFORMAT:
      return "it is in a format this runtime does not read";
    case TYPE_E_SIZETOOBIG:
      return "it is larger than a type library may be";
    case TYPE_E_LIBNOTREGISTERED:
      return "it is not registered";
    case E_OUTOFMEMORY:
      return "there is no memory to read it";
    default:
      return "it cannot be loaded";
  }
}

std::string TypeLibraryCause(REFCLSID clsid, HRESULT hr) {
  if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND) return {};
  std::string libidText;
  if (!ReadClassesText("CLSID\\" + GuidText(clsid) + "\\TypeLib", &libidText))
    return {};
  std::u16string wideLibid(libidText.begin(), libidText.end());
  GUID libid = {};
  if (FAILED(CLSIDFromString(reinterpret_cast<LPCOLESTR>(wideLibid.c_str()),
                             &libid)))
    return {};
  const std::string name = "type library " + libidText;
  WORD major = 0;
  WORD minor = 0;
  if (!NewestVersion(libidText, &major, &minor))
    return name + " is not registered (" + StatusText(hr) + ")";
  char version[16];
  std::snprintf(version, sizeof version, "%x.%x", major, minor);
  BSTR path = nullptr;
  HRESULT found = QueryPathOfRegTypeLib(libid, major, minor, 0, &path);
  if (FAILED(found))
    return name + " " + version + " names no file (" + StatusText(found) + ")";
  const std::string file =
      Utf16ToUtf8(std::u16string(path, SysStringLen(path)));
  ITypeLib* lib = nullptr;
  const HRESULT loaded = LoadTypeLibEx(path, REGKIND_NONE, &lib);
  SysFreeString(path);
  if (SUCCEEDED(loaded)) {
    lib->Release();
    return {};
  }
  return name + " " + version + " at " + file + " cannot be read (" +
         StatusText(loaded) + "): " + TypeLibraryProblem(loaded);
}

}  // namespace qxhost
