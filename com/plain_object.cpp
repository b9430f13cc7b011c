// PlainObject: an InstallKorvex that counts its own references.
#include <new>

#include "com/object_shapes.h"
#include "module/module_heap.h"
#include "module/result_macros.h"
#include "module/server_module.h"

HRESULT PlainObject::Create(REFIID iid, void** out) {
  void* memory = ModuleAlloc(sizeof(PlainObject));
  RETURN_IF_NULL_ALLOC(memory);
  PlainObject* object = new (memory) PlainObject();
  LockModule();
  const HRESULT hr = object->QueryInterface(iid, out);
  if (hr != S_OK) Destroy(object);
  return hr;
}

void PlainObject::Destroy(PlainObject* object) {
  UnlockModule();
  object->~PlainObject();
  ModuleFree(object);
}

HRESULT STDMETHODCALLTYPE PlainObject::QueryInterface(REFIID iid, void** out) {
  return LookupInterface(static_cast<InstallKorvex*>(this),
                         kInstallKorvexInterfaces, iid, out);
}

ULONG STDMETHODCALLTYPE PlainObject::AddRef() {
  return static_cast<ULONG>(++m_countOrOuter.count);
}

ULONG STDMETHODCALLTYPE PlainObject::Release() {
  const LONG count = --m_countOrOuter.count;
  if (count == 0) Destroy(this);
  return static_cast<ULONG>(count);
}
