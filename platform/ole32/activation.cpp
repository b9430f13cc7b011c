// Class activation for in-process servers: the default value of
// HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 names the library (REG_SZ,
// or REG_EXPAND_SZ with %NAME% references to the environment, expanded as
// ExpandEnvironmentStringsA does; a bare or relative name is found as
// LoadLibraryA finds it), whose
// DllGetClassObject hands out the class object.
//
// Statuses, as the system's runtime gives them: CO_E_NOTINITIALIZED before
// the thread has initialised COM; REGDB_E_CLASSNOTREG when the class, its
// InprocServer32 key or its library name is missing, and for every class
// context without CLSCTX_INPROC_SERVER, since no other kind of server exists
// here; REGDB_E_READREGDB when the library name is not a string;
// CO_E_DLLNOTFOUND when the library cannot be loaded, for whatever reason;
// CO_E_ERRORINDLL when it has no DllGetClassObject. What DllGetClassObject
// and CreateInstance answer is passed on unchanged.
#include "ole32_internal.h"

using namespace qxplatform::internal;

HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext,
                                COSERVERINFO* pServerInfo, REFIID riid,
                                LPVOID* ppv) {
  (void)pServerInfo;  // names a remote machine; nothing is remote here
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  if (!ComUsableOnThisThread()) return CO_E_NOTINITIALIZED;
  if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  std::string library;
  HRESULT hr = ReadClassEntry(rclsid, "InprocServer32", &library,
                              StringKinds::kExpandable);
  if (FAILED(hr)) return hr;
  return GetClassObjectFromLibrary(library, rclsid, riid, ppv);
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter,
                                DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr =
      CoGetClassObject(rclsid, dwClsContext, /*pServerInfo=*/nullptr,
                       IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}
