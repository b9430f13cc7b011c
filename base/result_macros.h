// Return-if-failed flow for HRESULT code: each step is checked and the first
// failure leaves the function at once, with RAII holders releasing whatever
// the function had taken.
//
// Builds that define QX_FAILURE_HOOK (the native ones and their tests) can
// learn where each failure left a function: every macro that returns a
// failure first passes the hook, when one is set, the file, the line, the
// expression and the status, so a failure deep down can be followed out.
// The DLL leaves the hook out and carries no trace of it.
#pragma once
#include <windows.h>

#if defined(QX_FAILURE_HOOK)
#include <atomic>

namespace qx {

using FailureHook = void (*)(const char* file, int line, const char* expression,
                             HRESULT hr);

inline std::atomic<FailureHook> g_failureHook{nullptr};

// Set once, before the code it watches runs; null stops the reports.
inline void SetFailureHook(FailureHook hook) {
  g_failureHook.store(hook, std::memory_order_relaxed);
}

inline HRESULT ReportFailure(const char* file, int line, const char* expression,
                             HRESULT hr) {
  const FailureHook hook = g_failureHook.load(std::memory_order_relaxed);
  if (hook != nullptr && FAILED(hr)) hook(file, line, expression, hr);
  return hr;
}

}  // namespace qx

#define QX_FAILED_HERE(hr, expression) \
  ::qx::ReportFailure(__FILE__, __LINE__, expression, hr)
#else
#define QX_FAILED_HERE(hr, expression) (hr)
#endif

#define RETURN_IF_FAILED(expr)                                          \
  do {                                                                  \
    const HRESULT qxHrChecked = (expr);                                 \
    if (FAILED(qxHrChecked)) return QX_FAILED_HERE(qxHrChecked, #expr); \
  } while (0)

// The status of expr, passed to the hook when it is a failure the function
// goes on past: one met while taking back what a failed step did, whose
// own failure is what the function returns. It is seen all the same.
#define REPORT_IF_FAILED(expr) QX_FAILED_HERE((expr), #expr)

// Returns hr when cond holds.
#define RETURN_HR_IF(hr, cond)                    \
  do {                                            \
    if (cond) return QX_FAILED_HERE((hr), #cond); \
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
