// Cryptographic provider contexts. A provider counts as installed when the
// key HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Cryptography\Defaults\Provider
// \<name> exists with a DWORD "Type" equal to the type asked for; the
// default provider of a type is named under ...\Defaults\Provider Types.
//
// This platform holds no key containers and cannot make any: only
// verification contexts (CRYPT_VERIFYCONTEXT) are handed out; any other
// acquire of an installed provider fails with NTE_BAD_KEYSET.
#include <wincrypt.h>

#include <cstdio>
#include <mutex>
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

// The default provider's name for a type, or an NTE_ status.
DWORD DefaultProviderName(DWORD type, std::u16string* name) {
  char digits[16];
  std::snprintf(digits, sizeof(digits), "Type %03u",
                static_cast<unsigned>(type));
  std::u16string path(kProviderTypesKey);
  for (const char* c = digits; *c != '\0'; ++c) path.push_back(*c);
  bool keyExists = false;
  RegValue value;
  if (!ReadStoredValue(HKEY_LOCAL_MACHINE, path, kNameValue, &keyExists,
                       &value) ||
      value.type != REG_SZ)
    return NTE_PROV_TYPE_NOT_DEF;
  name->clear();
  for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
    char16_t c =
        static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
    if (c == u'\0') break;
    name->push_back(c);
  }
  return name->empty() ? NTE_PROV_TYPE_NOT_DEF : ERROR_SUCCESS;
}

DWORD CheckProvider(const std::u16string& name, DWORD type) {
  if (name.empty() || name.find(u'\\') != std::u16string::npos)
    return NTE_KEYSET_NOT_DEF;
  bool keyExists = false;
  RegValue value;
  bool found =
      ReadStoredValue(HKEY_LOCAL_MACHINE, std::u16string(kProviderKey) + name,
                      kTypeValue, &keyExists, &value);
  if (!keyExists) return NTE_KEYSET_NOT_DEF;
  if (!found || value.type != REG_DWORD || value.data.size() != 4)
    return NTE_PROV_TYPE_ENTRY_BAD;
  DWORD stored = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                 (static_cast<DWORD>(value.data[3]) << 24);
  return stored == type ? ERROR_SUCCESS : NTE_PROV_TYPE_NO_MATCH;
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
