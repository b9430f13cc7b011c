// Cryptographic provider contexts. A provider counts as installed when the
// key HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Cryptography\Defaults\Provider
// \<name> exists with a DWORD "Type" equal to the type asked for and an
// "Image Path" naming its library; the default provider of a type is named
// under ...\Defaults\Provider Types.
//
// The real system loads the provider's library. No provider library could run
// here, so the image is only looked for as the loader looks for a library: it
// has to be a readable file. An entry without a
// usable "Image Path" string is damaged, NTE_PROV_TYPE_ENTRY_BAD as a damaged
// "Type" is; a path that names no such file is NTE_PROV_DLL_NOT_FOUND. A
// REG_EXPAND_SZ path has its %VARIABLE% references expanded first.
//
// The registry is read straight from its store. A registry that cannot be
// read (locked by another process past its timeout, damaged) is told apart
// from a provider that is not there: the acquire fails with the registry's
// own status as the last error rather than an NTE_ code.
//
// This platform holds no key containers and cannot make any: only
// verification contexts (CRYPT_VERIFYCONTEXT) are handed out; any other
// acquire of an installed provider fails with NTE_BAD_KEYSET.
#include <sys/stat.h>
#include <unistd.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_set>

#include "registry_store.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr char16_t kProviderKey[] =
    u"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
constexpr char16_t kProviderTypesKey[] =
    u"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider Types\\";
constexpr char16_t kTypeValue[] = u"Type";
constexpr char16_t kNameValue[] = u"Name";
constexpr char16_t kImagePathValue[] = u"Image Path";

constexpr DWORD kKnownAcquireFlags =
    CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
    CRYPT_MACHINE_KEYSET | CRYPT_SILENT | CRYPT_DEFAULT_CONTAINER_OPTIONAL;

struct ContextTable {
  std::mutex mutex;
  std::unordered_set<HCRYPTPROV> open;
  HCRYPTPROV next = 0x5000;
};

ContextTable& Contexts() {
  static ContextTable* table = new ContextTable();  // outlives every caller
  return *table;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

DWORD CheckFlags(DWORD flags) {
  if ((flags & ~kKnownAcquireFlags) != 0) return NTE_BAD_FLAGS;
  bool verify = (flags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT;
  bool create = (flags & CRYPT_NEWKEYSET) != 0;
  bool remove = (flags & CRYPT_DELETEKEYSET) != 0;
  if ((create && remove) || (verify && (create || remove)))
    return NTE_BAD_FLAGS;
  return ERROR_SUCCESS;
}

// A read that failed for the registry's sake rather than for a missing key
// or value. A name that is no path (a provider named with an empty level)
// reads as missing.
bool IsRegistryFailure(LSTATUS read) {
  return read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND &&
         read != kErrorBadPathname && read != ERROR_INVALID_PARAMETER;
}

// A stored string up to its first terminator, which it may lack.
std::u16string StoredText(const RegValue& value) {
  std::u16string text;
  for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
    char16_t c =
        static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
    if (c == u'\0') break;
    text.push_back(c);
  }
  return text;
}

// %NAME% references expanded by the kernel's own rule; the text as it
// stands when it cannot be.
std::string ExpandVariables(const std::string& text) {
  const DWORD size = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
  if (size == 0) return text;
  std::string result(size, '\0');
  const DWORD written = ExpandEnvironmentStringsA(text.c_str(), &result[0], size);
  if (written == 0 || written > size) return text;
  result.resize(written - 1);
  return result;
}

// The default provider's name for a type, or an NTE_ status.
DWORD DefaultProviderName(DWORD type, std::u16string* name) {
  char digits[16];
  std::snprintf(digits, sizeof(digits), "Type %03u",
                static_cast<unsigned>(type));
  std::u16string path(kProviderTypesKey);
  for (const char* c = digits; *c != '\0'; ++c) path.push_back(*c);
  bool keyExists = false;
  RegValue value;
  LSTATUS read =
      ReadStoredValue(HKEY_LOCAL_MACHINE, path, kNameValue, &keyExists, &value);
  if (IsRegistryFailure(read)) return read;
  if (read != ERROR_SUCCESS || value.type != REG_SZ)
    return NTE_PROV_TYPE_NOT_DEF;
  *name = StoredText(value);
  return name->empty() ? NTE_PROV_TYPE_NOT_DEF : ERROR_SUCCESS;
}

// An absolute path is checked where it points, which is all the loader would
// do with it, at a fraction of the cost of its path resolution; any other
// name is looked for as the loader looks for a library, by opening it as a
// data file.
bool ImageExists(const std::string& image) {
  if (image.front() == '/') {
    struct stat info;
    return stat(image.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(image.c_str(), R_OK) == 0;
  }
  // A provider that is found leaves the caller's last error as it was.
  DWORD savedError = GetLastError();
  HMODULE library = LoadLibraryExA(image.c_str(), /*hFile=*/nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE);
  SetLastError(savedError);
  if (library == nullptr) return false;
  FreeLibrary(library);
  return true;
}

DWORD CheckImage(const std::u16string& providerKey) {
  bool keyExists = false;
  RegValue value;
  LSTATUS read = ReadStoredValue(HKEY_LOCAL_MACHINE, providerKey,
                                 kImagePathValue, &keyExists, &value);
  if (IsRegistryFailure(read)) return read;
  if (read != ERROR_SUCCESS ||
      (value.type != REG_SZ && value.type != REG_EXPAND_SZ))
    return NTE_PROV_TYPE_ENTRY_BAD;
  std::string image = WideToUtf8(StoredText(value));
  if (value.type == REG_EXPAND_SZ) image = ExpandVariables(image);
  if (image.empty()) return NTE_PROV_TYPE_ENTRY_BAD;
  return ImageExists(image) ? ERROR_SUCCESS : NTE_PROV_DLL_NOT_FOUND;
}

DWORD CheckProvider(const std::u16string& name, DWORD type) {
  if (name.empty() || name.find(u'\\') != std::u16string::npos)
    return NTE_KEYSET_NOT_DEF;
  const std::u16string key = std::u16string(kProviderKey) + name;
  bool keyExists = false;
  RegValue value;
  LSTATUS read =
      ReadStoredValue(HKEY_LOCAL_MACHINE, key, kTypeValue, &keyExists, &value);
  if (IsRegistryFailure(read)) return read;
  if (!keyExists) return NTE_KEYSET_NOT_DEF;
  if (read != ERROR_SUCCESS || value.type != REG_DWORD ||
      value.data.size() != 4)
    return NTE_PROV_TYPE_ENTRY_BAD;
  DWORD stored = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                 (static_cast<DWORD>(value.data[3]) << 24);
  if (stored != type) return NTE_PROV_TYPE_NO_MATCH;
  return CheckImage(key);
}

}  // namespace
}  // namespace internal
}  // namespace qxplatform

using namespace qxplatform::internal;

BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer,
                                 LPCSTR szProvider, DWORD dwProvType,
                                 DWORD dwFlags) {
  (void)szContainer;
  if (phProv == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *phProv = 0;
  DWORD status = CheckFlags(dwFlags);
  if (status != ERROR_SUCCESS) return Fail(status);
  std::u16string name;
  if (szProvider == nullptr) {
    status = DefaultProviderName(dwProvType, &name);
    if (status != ERROR_SUCCESS) return Fail(status);
  } else {
    name = AnsiToWide(szProvider);
  }
  status = CheckProvider(name, dwProvType);
  if (status != ERROR_SUCCESS) return Fail(status);
  if ((dwFlags & CRYPT_VERIFYCONTEXT) != CRYPT_VERIFYCONTEXT)
    return Fail(NTE_BAD_KEYSET);
  ContextTable& table = Contexts();
  std::lock_guard<std::mutex> lock(table.mutex);
  HCRYPTPROV handle = table.next;
  table.next += 8;
  table.open.insert(handle);
  *phProv = handle;
  return TRUE;
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  ContextTable& table = Contexts();
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.open.erase(hProv) == 0) return Fail(ERROR_INVALID_PARAMETER);
  }
  // Nonzero flags are refused, but the context is released all the same.
  if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
  return TRUE;
}
