// Registry access for type-library registration and lookup, through the
// registry's own API so that access checks and failures are the registry's.
#include "typelib_registry.h"

#include "platform_internal.h"

namespace qxplatform {
namespace internal {
namespace {

// Registry keys nest far less deeply than this.
constexpr int kMaxTreeDepth = 64;
constexpr DWORD kMaxKeyName = 256;

LSTATUS DeleteTree(HKEY parent, const std::string& name, int depth) {
  if (depth > kMaxTreeDepth) return ERROR_BADKEY;
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  // Always the first subkey: each one is gone before the next look, and a
  // subkey that cannot be deleted stops the walk.
  for (;;) {
    char child[kMaxKeyName];
    DWORD length = sizeof(child);
    status = RegEnumKeyExA(key, 0, child, &length, /*lpReserved=*/nullptr,
                           /*lpClass=*/nullptr, /*lpcchClass=*/nullptr,
                           /*lpftLastWriteTime=*/nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_SUCCESS) status = DeleteTree(key, child, depth + 1);
    if (status != ERROR_SUCCESS) {
      RegCloseKey(key);
      return status;
    }
  }
  RegCloseKey(key);
  return RegDeleteKeyA(parent, name.c_str());
}

}  // namespace

HKEY OpenClassesKey(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return nullptr;
  return key;
}

bool ReadClassesText(const std::string& path, const char* valueName,
                     std::u16string* text) {
  HKEY key = OpenClassesKey(path);
  if (key == nullptr) return false;
  DWORD type = REG_NONE;
  DWORD size = 0;
  LSTATUS status = RegQueryValueExA(key, valueName, /*lpReserved=*/nullptr,
                                    &type, /*lpData=*/nullptr, &size);
  std::string bytes(size, '\0');
  if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ))
    status = RegQueryValueExA(key, valueName, /*lpReserved=*/nullptr, &type,
                              reinterpret_cast<BYTE*>(&bytes[0]), &size);
  else
    status = ERROR_FILE_NOT_FOUND;
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return false;
  bytes.resize(size < bytes.size() ? size : bytes.size());
  while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  *text = AnsiToWide(bytes);
  return true;
}

std::vector<std::string> ClassesSubkeys(const std::string& path) {
  std::vector<std::string> names;
  HKEY key = OpenClassesKey(path);
  if (key == nullptr) return names;
  for (DWORD index = 0;; ++index) {
    char name[kMaxKeyName];
    DWORD length = sizeof(name);
    if (RegEnumKeyExA(key, index, name, &length, /*lpReserved=*/nullptr,
                      /*lpClass=*/nullptr, /*lpcchClass=*/nullptr,
                      /*lpftLastWriteTime=*/nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  RegCloseKey(key);
  return names;
}

LSTATUS WriteClassesText(const std::string& path, const char* valueName,
                         const std::u16string& text) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0,
                                   /*lpClass=*/nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_WRITE, /*lpSecurityAttributes=*/nullptr,
                                   &key, /*lpdwDisposition=*/nullptr);
  if (status != ERROR_SUCCESS) return status;
  std::string bytes = WideToAnsi(text);
  status = RegSetValueExA(key, valueName, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(bytes.c_str()),
                          static_cast<DWORD>(bytes.size() + 1));
  LSTATUS closed = RegCloseKey(key);
  return status != ERROR_SUCCESS ? status : closed;
}

LSTATUS DeleteClassesTree(const std::string& path) {
  return DeleteTree(HKEY_CLASSES_ROOT, path, 0);
}

bool ClassesKeyIsEmpty(const std::string& path) {
  HKEY key = OpenClassesKey(path);
  if (key == nullptr) return false;
  DWORD subkeys = 0;
  DWORD values = 0;
  LSTATUS status = RegQueryInfoKeyA(
      key, /*lpClass=*/nullptr, /*lpcchClass=*/nullptr, /*lpReserved=*/nullptr,
      &subkeys, /*lpcbMaxSubKeyLen=*/nullptr, /*lpcbMaxClassLen=*/nullptr,
      &values, /*lpcbMaxValueNameLen=*/nullptr, /*lpcbMaxValueLen=*/nullptr,
      /*lpcbSecurityDescriptor=*/nullptr, /*lpftLastWriteTime=*/nullptr);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

}  // namespace internal
}  // namespace qxplatform
