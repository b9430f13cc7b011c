// Return-if-failed flow for HRESULT code: each step is checked and the first
// failure leaves the function at once, with RAII holders releasing whatever
// the function had taken.
#pragma once
#include <windows.h>

#define RETURN_IF_FAILED(expr)                   \
  do {                                           \
    const HRESULT qxHrChecked = (expr);          \
    if (FAILED(qxHrChecked)) return qxHrChecked; \
  } while (0)

// Returns hr when cond holds.
#define RETURN_HR_IF(hr, cond) \
  do {                         \
    if (cond) return (hr);     \
  } while (0)

// Returns hr when ptr is null.
#define RETURN_HR_IF_NULL(hr, ptr) RETURN_HR_IF(hr, (ptr) == nullptr)

// Returns E_OUTOFMEMORY when an allocation gave null.
#define RETURN_IF_NULL_ALLOC(ptr) RETURN_HR_IF_NULL(E_OUTOFMEMORY, ptr)

// Converts a Win32 error code into the HRESULT the product reports: S_OK
// for 0, else 0x80070000 | (code & 0xFFFF).
inline HRESULT HResultFromWin32(DWORD code) {
  return code == 0 ? S_OK
                   : static_cast<HRESULT>(0x80070000u | (code & 0xFFFFu));
}
