// The class factory: its reference counting with the module lock rules,
// CreateInstance and LockServer.
#include "com/class_factory.h"

#include <new>

#include "base/guid_compare.h"
#include "base/holders.h"
#include "base/result_macros.h"
#include "com/interface_table.h"
#include "module/server_module.h"

namespace {

// The count at which a client holds the factory besides the module's cache.
constexpr LONG kCacheAndOneClient = 2;
constexpr LONG kCacheOnly = 1;

constexpr InterfaceTableEntry kClassFactoryInterfaces[] = {
    InterfaceRow<IClassFactory, ClassFactory>(IID_IClassFactory),
    kInterfaceTableEndRow,
};

void DestroyFactory(ClassFactory* factory) {
  factory->~ClassFactory();
  ModuleFree(factory);
}

}  // namespace

ClassFactory::ClassFactory(InstanceCreator creator)
    : m_refCount(0), m_instanceCreator(creator) {
  InitializeCriticalSection(&m_cacheLock);
}

ClassFactory::~ClassFactory() { DeleteCriticalSection(&m_cacheLock); }

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID iid, void** out) {
  return LookupInterface(this, kClassFactoryInterfaces, iid, out);
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() {
  CriticalSectionGuard guard(m_cacheLock);
  const LONG count = InterlockedIncrement(&m_refCount);
  if (count == kCacheAndOneClient) LockModule();
  return static_cast<ULONG>(count);
}

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
  LONG count = 0;
  {
    CriticalSectionGuard guard(m_cacheLock);
    count = InterlockedDecrement(&m_refCount);
  }
  if (count == 0) {
    DestroyFactory(this);
  } else if (count == kCacheOnly) {
    UnlockModule();
  }
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer,
                                                       REFIID iid, void** out) {
  RETURN_HR_IF_NULL(E_POINTER, out);
  *out = nullptr;
  // An outer object may only ask for the inner's own IUnknown.
  RETURN_HR_IF(CLASS_E_NOAGGREGATION,
               outer != nullptr && !IsSameGuid(iid, IID_IUnknown));
  return m_instanceCreator(outer, iid, out);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
  if (lock) {
    AddServerLock();
  } else {
    RemoveServerLock();
  }
  return S_OK;
}

HRESULT CreateClassFactory(InstanceCreator creator, REFIID iid, void** out) {
  void* memory = ModuleAlloc(sizeof(ClassFactory));
  RETURN_IF_NULL_ALLOC(memory);
  ClassFactory* factory = new (memory) ClassFactory(creator);
  const HRESULT hr = factory->QueryInterface(iid, out);
  if (hr != S_OK) DestroyFactory(factory);
  return hr;
}
