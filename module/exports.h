// The library's exported entry points, as hosts and the platform loader
// reach them. The native build hides every other symbol of the library, so
// these declarations carry default visibility there; the Windows build names
// its exports in qxKorvex.def.
#pragma once
#include <windows.h>
#include <objbase.h>

#if defined(_WIN32)
#define QX_EXPORT
#else
#define QX_EXPORT __attribute__((visibility("default")))
#endif

EXTERN_C QX_EXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason,
                                       LPVOID reserved);
EXTERN_C QX_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow(void);
EXTERN_C QX_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId,
                                                            REFIID iid,
                                                            LPVOID* out);
