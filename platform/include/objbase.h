// COM base services: the task allocator, initialisation and the COM
// headers' umbrella.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include <wtypes.h>
#include <combaseapi.h>

QXPLATFORM_API LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
QXPLATFORM_API LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
QXPLATFORM_API void WINAPI CoTaskMemFree(LPVOID pv);

// CoInitializeEx for a single-threaded apartment.
QXPLATFORM_API HRESULT WINAPI CoInitialize(LPVOID pvReserved);
