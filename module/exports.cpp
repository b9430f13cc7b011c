// The exported server functions through which COM asks whether the library
// may unload and obtains the class object of a class in the ObjectMap.
#include "module/exports.h"

#include "module/guid_compare.h"
#include "module/holders.h"
#include "module/result_macros.h"
#include "module/server_module.h"

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

// The cache slot is tested outside the lock as well as inside it.
IUnknown* CachedClassObject(const ObjectMapEntry& entry) {
  return *static_cast<IUnknown* const volatile*>(&entry.cachedClassObject);
}

}  // namespace

STDAPI DllCanUnloadNow(void) {
  return CurrentModule().lockCount == 0 ? S_OK : S_FALSE;
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
      hr = entry->classObjectCreator(
          entry->instanceCreator, IID_IUnknown,
          reinterpret_cast<void**>(&entry->cachedClassObject));
    }
  }
  IUnknown* classObject = CachedClassObject(*entry);
  if (classObject != nullptr) hr = classObject->QueryInterface(iid, out);
  if (*out == nullptr && hr == S_OK) return CLASS_E_CLASSNOTAVAILABLE;
  return hr;
}
