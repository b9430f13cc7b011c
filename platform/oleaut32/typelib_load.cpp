// LoadTypeLib and LoadTypeLibEx: a type library from a file, read as
// typelib_file.cpp reads it, with the statuses it gives; a null argument is
// E_INVALIDARG. With REGKIND_REGISTER, or REGKIND_DEFAULT for a name without
// a directory, the library is then registered under its absolute path; a
// failing registration fails the load with its status.
#include <oleauto.h>

#include <string>

#include "type_lib.h"
#include "typelib_internal.h"

using qxplatform::internal::LoadTypeLibFromPath;
using qxplatform::internal::TypeLib;

HRESULT WINAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind,
                             ITypeLib** pptlib) {
  if (pptlib != nullptr) *pptlib = nullptr;
  if (szFile == nullptr || pptlib == nullptr || regkind < REGKIND_DEFAULT ||
      regkind > REGKIND_NONE)
    return E_INVALIDARG;
  const std::u16string path = szFile;
  TypeLib* lib = nullptr;
  std::u16string fullPath;
  HRESULT hr = LoadTypeLibFromPath(path, &lib, &fullPath);
  if (FAILED(hr)) return hr;
  const bool bareName = path.find(u'/') == std::u16string::npos;
  const bool registers =
      regkind == REGKIND_REGISTER || (regkind == REGKIND_DEFAULT && bareName);
  if (registers && !fullPath.empty()) {
    hr = RegisterTypeLib(lib, fullPath.c_str(), /*szHelpDir=*/nullptr);
    if (FAILED(hr)) {
      lib->Release();
      return hr;
    }
  }
  *pptlib = lib;
  return S_OK;
}

HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
  return LoadTypeLibEx(szFile, REGKIND_DEFAULT, pptlib);
}
