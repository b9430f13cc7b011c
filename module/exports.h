// The library's exported entry points, as hosts and the platform loader
// reach them. Which symbols leave the library is said in one place per
// build: qxKorvex.def for the DLL, the version script qxKorvex.map natively.
#pragma once
#include <windows.h>
#include <objbase.h>

EXTERN_C BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
STDAPI DllCanUnloadNow(void);
STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* out);
// Registers every class of the ObjectMap, then the type library; the first
// failure is returned, nothing after it is registered, and the classes
// registered before it take back the entries this call wrote.
STDAPI DllRegisterServer(void);
// Unregisters the classes and the type library; always S_OK.
STDAPI DllUnregisterServer(void);
