// The full file name of a loaded module, for code that registers it. A name
// that does not fit the buffer is refused rather than used cut short: a
// truncated path names nothing, or another file, and registering it would
// point the registry there.
#pragma once
#include <windows.h>

#include "base/last_error.h"
#include "base/result_macros.h"

// The longest module file name registration accepts, its zero included.
constexpr DWORD kModulePathCapacity = MAX_PATH;

// Fills path with the module's file name. On failure the status made from
// the platform's error; a name of kModulePathCapacity characters or more is
// HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE). path is unspecified then.
[[nodiscard]] inline HRESULT GetModulePath(HMODULE module,
                                           char (&path)[kModulePathCapacity]) {
  SetLastError(ERROR_SUCCESS);
  const DWORD length = GetModuleFileNameA(module, path, kModulePathCapacity);
  RETURN_HR_IF(LastErrorStatus(), length == 0);
  // A name that fills the whole buffer came back cut short.
  RETURN_HR_IF(HResultFromWin32(ERROR_FILENAME_EXCED_RANGE),
               length >= kModulePathCapacity);
  return S_OK;
}
