// The exported server functions: whether the library may unload, the class
// object of a class in the ObjectMap, and the library's registration (each
// class's registration hook, then the type library).
#include "module/exports.h"

#include "base/guid_compare.h"
#include "base/holders.h"
#include "base/result_macros.h"
#include "module/server_module.h"
#include "typelib/module_type_library.h"

namespace {

ObjectMapEntry* FindClassEntry(REFCLSID classId) {
  for (ObjectMapEntry* entry = CurrentModule().objectMap;
       entry != nullptr && entry->classId != nullptr; ++entry) {
    if (entry->classObjectCreator != nullptr &&
        IsSameGuid(*entry->classId, classId)) {
      return entry;
    }
  }
  return nullptr;
}

// Threads read the cache slot without the class-object lock, so the class
// object is published into it only once fully made, and read back with a
// barrier: a reader that sees the pointer also sees the object behind it.
PVOID volatile* CacheSlot(ObjectMapEntry& entry) {
  return reinterpret_cast<PVOID volatile*>(&entry.cachedClassObject);
}

IUnknown* CachedClassObject(ObjectMapEntry& entry) {
  return static_cast<IUnknown*>(InterlockedCompareExchangePointer(
      CacheSlot(entry), /*Exchange=*/nullptr, /*Comperand=*/nullptr));
}

// The registration from entry on: the hook of the next class that has one,
// handed the registration of the classes after it as its next step; after
// the last class, the type library. Each class thus keeps what it needs to
// take its entries back until everything after it has been registered.
HRESULT RegisterFrom(void* context) {
  ObjectMapEntry* entry = static_cast<ObjectMapEntry*>(context);
  while (entry != nullptr && entry->classId != nullptr &&
         entry->registrationHook == nullptr) {
    ++entry;
  }
  if (entry == nullptr || entry->classId == nullptr) {
    return RegisterModuleTypeLib(CurrentModule().instance);
  }
  const RegistrationStep rest = {&RegisterFrom, entry + 1};
  return entry->registrationHook(/*doRegister=*/TRUE, &rest);
}

// Creates the class object into a local and publishes it on success.
HRESULT CreateCachedClassObject(ObjectMapEntry& entry) {
  IUnknown* created = nullptr;
  const HRESULT hr = entry.classObjectCreator(
      entry.instanceCreator, IID_IUnknown, reinterpret_cast<void**>(&created));
  if (hr == S_OK && created != nullptr) {
    InterlockedExchangePointer(CacheSlot(entry), created);
  }
  return hr;
}

}  // namespace

// The count changes by interlocked steps on other threads; it is read
// atomically too.
STDAPI DllCanUnloadNow(void) {
  return __atomic_load_n(&CurrentModule().lockCount, __ATOMIC_ACQUIRE) == 0
             ? S_OK
             : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* out) {
  RETURN_HR_IF_NULL(E_POINTER, out);
  *out = nullptr;
  ObjectMapEntry* entry = FindClassEntry(classId);
  RETURN_HR_IF_NULL(CLASS_E_CLASSNOTAVAILABLE, entry);

  HRESULT hr = S_OK;
  if (CachedClassObject(*entry) == nullptr) {
    CriticalSectionGuard guard(CurrentModule().classObjectLock);
    if (CachedClassObject(*entry) == nullptr) {
      hr = CreateCachedClassObject(*entry);
    }
  }
  IUnknown* classObject = CachedClassObject(*entry);
  if (classObject != nullptr) hr = classObject->QueryInterface(iid, out);
  if (*out == nullptr && hr == S_OK) return CLASS_E_CLASSNOTAVAILABLE;
  return hr;
}

// A failure leaves the registry as the call found it, apart from the root
// blocks a class's script completed before one that failed, and what the
// automation runtime wrote of the type library before it failed.
STDAPI DllRegisterServer(void) {
  return RegisterFrom(CurrentModule().objectMap);
}

// Takes away whatever can be taken. A script that the registry itself
// failed (its status a Win32 one: a lock held past the wait, a full disk, a
// damaged database) fails the call with the first such status, so that
// nobody takes a registration that stayed for one that went; anything
// else, a script the registrar could not read or a type library that was
// not registered, is passed over as before.
STDAPI DllUnregisterServer(void) {
  ServerModule& module = CurrentModule();
  HRESULT first = S_OK;
  for (ObjectMapEntry* entry = module.objectMap;
       entry != nullptr && entry->classId != nullptr; ++entry) {
    if (entry->registrationHook == nullptr) continue;
    const HRESULT hr =
        entry->registrationHook(/*doRegister=*/FALSE, /*then=*/nullptr);
    if (FAILED(hr) && HRESULT_FACILITY(hr) == FACILITY_WIN32 && first == S_OK)
      first = hr;
  }
  UnregisterModuleTypeLib(module.instance);
  return first;
}
