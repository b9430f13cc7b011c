// The status of a platform call that failed, made from the thread's last
// error. A call may fail without setting one; that is still a failure, never
// success, or a caller would go on as if the step had worked.
#pragma once
#include <windows.h>

#include "base/result_macros.h"

// HResultFromWin32 of the last error, or E_FAIL when the failed call left
// it at 0.
[[nodiscard]] inline HRESULT LastErrorStatus() {
  const DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HResultFromWin32(error);
}
