// Type libraries from memory for tests and the fuzzer.
#include <oleauto.h>
#include <qxplatform/controls.h>

#include "type_lib.h"
#include "typelib_internal.h"

namespace qxplatform {

HRESULT LoadTypeLibFromMemory(const void* data, size_t size,
                              ITypeLib** library) {
  if (library == nullptr || (data == nullptr && size != 0)) return E_INVALIDARG;
  *library = nullptr;
  internal::TypeLib* lib = nullptr;
  HRESULT hr = internal::LoadTypeLibFromBytes(static_cast<const uint8_t*>(data),
                                              size, &lib);
  if (SUCCEEDED(hr)) *library = lib;
  return hr;
}

}  // namespace qxplatform
