// ProgIDs: HKEY_CLASSES_ROOT\<ProgID>\CLSID names a ProgID's class, and
// HKEY_CLASSES_ROOT\CLSID\{clsid}\ProgID a class's ProgID. CLSIDFromString
// reads a class from its text: a braced GUID, else a ProgID; anything
// else, and an unknown ProgID, is CO_E_CLASSSTRING and leaves CLSID_NULL
// behind. A null string is CLSID_NULL and S_OK, as the system answers it. Registry names
// are in the ANSI code page, so a ProgID it cannot spell, like one holding a
// backslash (which would reach into another key), names no class.
#include "platform_internal.h"
#include "ole32_internal.h"

using namespace qxplatform::internal;

namespace {

bool ProgIdKeyName(LPCOLESTR progId, std::string* name) {
  std::u16string wide(progId);
  *name = WideToAnsi(wide);
  return !name->empty() && name->find('\\') == std::string::npos &&
         AnsiToWide(*name) == wide;
}

}  // namespace

HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
  *lpclsid = GUID{};
  std::string name;
  if (!ProgIdKeyName(lpszProgID, &name)) return CO_E_CLASSSTRING;
  std::string clsidText;
  if (ReadClassesRootString(name + "\\CLSID", &clsidText) !=
      RegistryString::kFound)
    return CO_E_CLASSSTRING;
  // Read as a GUID only: a ProgID naming another ProgID would otherwise
  // lead CLSIDFromString back here, round and round.
  GUID parsed;
  if (!ParseGuidText(AnsiToWide(clsidText).c_str(), &parsed))
    return CO_E_CLASSSTRING;
  *lpclsid = parsed;
  return S_OK;
}

HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
  if (lplpszProgID == nullptr) return E_INVALIDARG;
  *lplpszProgID = nullptr;
  std::string progId;
  HRESULT hr = ReadClassEntry(clsid, "ProgID", &progId);
  if (FAILED(hr)) return hr;
  std::u16string wide = AnsiToWide(progId);
  size_t bytes = (wide.size() + 1) * sizeof(OLECHAR);
  auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
  if (copy == nullptr) return E_OUTOFMEMORY;
  wide.copy(copy, wide.size());
  copy[wide.size()] = 0;
  *lplpszProgID = copy;
  return S_OK;
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (pclsid == nullptr) return E_INVALIDARG;
  *pclsid = GUID{};
  if (lpsz == nullptr) return S_OK;
  if (lpsz[0] != u'{') return CLSIDFromProgID(lpsz, pclsid);
  GUID parsed;
  if (!ParseGuidText(lpsz, &parsed)) return CO_E_CLASSSTRING;
  *pclsid = parsed;
  return S_OK;
}
