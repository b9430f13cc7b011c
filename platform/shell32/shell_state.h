// State shared by the shell launch and its controls.
#pragma once
#include <windows.h>

#include <atomic>

namespace qxplatform {
namespace internal {

// ShellExecuteA returns this instead of launching while it is not negative.
extern std::atomic<INT_PTR> g_forcedShellResult;
// Programs whose image the system accepted (exec succeeded).
extern std::atomic<long> g_shellLaunchCount;

}  // namespace internal
}  // namespace qxplatform
