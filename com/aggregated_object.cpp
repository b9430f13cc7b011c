// AggregatedObject and the ContainedObject it holds: an InstallKorvex that
// lives inside an outer object and shares its identity.
#include <new>

#include "com/object_shapes.h"
#include "module/guid_compare.h"
#include "module/module_heap.h"
#include "module/result_macros.h"
#include "module/server_module.h"

ContainedObject::ContainedObject(IUnknown* outer) {
  m_countOrOuter.outer = outer;
}

HRESULT STDMETHODCALLTYPE ContainedObject::QueryInterface(REFIID iid,
                                                          void** out) {
  RETURN_HR_IF_NULL(E_POINTER, out);
  const HRESULT hr = m_countOrOuter.outer->QueryInterface(iid, out);
  if (SUCCEEDED(hr)) return hr;
  return LookupInterface(static_cast<InstallKorvex*>(this),
                         kInstallKorvexInterfaces, iid, out);
}

ULONG STDMETHODCALLTYPE ContainedObject::AddRef() {
  return m_countOrOuter.outer->AddRef();
}

ULONG STDMETHODCALLTYPE ContainedObject::Release() {
  return m_countOrOuter.outer->Release();
}

AggregatedObject::AggregatedObject(IUnknown* outer)
    : m_refCount(0), m_contained(outer) {}

HRESULT AggregatedObject::Create(IUnknown* outer, REFIID iid, void** out) {
  void* memory = ModuleAlloc(sizeof(AggregatedObject));
  RETURN_IF_NULL_ALLOC(memory);
  AggregatedObject* object = new (memory) AggregatedObject(outer);
  LockModule();
  const HRESULT hr = object->QueryInterface(iid, out);
  if (hr != S_OK) Destroy(object);
  return hr;
}

void AggregatedObject::Destroy(AggregatedObject* object) {
  UnlockModule();
  object->~AggregatedObject();
  ModuleFree(object);
}

HRESULT STDMETHODCALLTYPE AggregatedObject::QueryInterface(REFIID iid,
                                                           void** out) {
  if (IsSameGuid(iid, IID_IUnknown)) {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  // Interfaces of the contained object: their AddRef goes to the outer.
  return LookupInterface(static_cast<InstallKorvex*>(&m_contained),
                         kInstallKorvexInterfaces, iid, out);
}

ULONG STDMETHODCALLTYPE AggregatedObject::AddRef() {
  return static_cast<ULONG>(++m_refCount);
}

ULONG STDMETHODCALLTYPE AggregatedObject::Release() {
  const LONG count = --m_refCount;
  if (count == 0) Destroy(this);
  return static_cast<ULONG>(count);
}
