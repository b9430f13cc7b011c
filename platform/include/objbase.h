// COM base services: the task allocator and the COM headers' umbrella.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include <wtypes.h>

QXPLATFORM_API LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
QXPLATFORM_API LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
QXPLATFORM_API void WINAPI CoTaskMemFree(LPVOID pv);
