// Type libraries from memory for tests and the fuzzer, the counts of the
// calls that a caller's caching should spare, and a function's own names
// for the typelib command.
#include <oleauto.h>

#include <atomic>
#include <qxplatform/controls.h>

#include "type_info.h"
#include "type_lib.h"
#include "typelib_internal.h"

namespace qxplatform {
namespace {

std::atomic<long> g_registeredLoads{0};
std::atomic<long> g_nameLookups{0};

}  // namespace

namespace internal {

void CountRegisteredTypeLibLoad() { ++g_registeredLoads; }
void CountTypeInfoNameLookup() { ++g_nameLookups; }
void ResetTypeLibControls() {
  g_registeredLoads = 0;
  g_nameLookups = 0;
}

}  // namespace internal

long RegisteredTypeLibLoads() { return g_registeredLoads.load(); }
long TypeInfoNameLookups() { return g_nameLookups.load(); }

HRESULT GetFuncNames(ITypeInfo* info, UINT index, BSTR* names, UINT maxNames,
                     UINT* count) {
  if (count != nullptr) *count = 0;
  if (info == nullptr) return E_INVALIDARG;
  ITypeInfo2* own = nullptr;
  HRESULT hr = info->QueryInterface(internal::kIidPlatformTypeInfo,
                                    reinterpret_cast<void**>(&own));
  if (FAILED(hr)) return hr;
  hr = static_cast<internal::TypeInfo*>(own)->GetFuncNames(index, names,
                                                           maxNames, count);
  own->Release();
  return hr;
}

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
