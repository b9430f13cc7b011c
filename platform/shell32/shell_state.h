// State shared by the shell launch and its controls.
#pragma once
#include <windows.h>

#include <qxplatform/controls.h>

#include <atomic>

namespace qxplatform {
namespace internal {

// ShellExecuteA returns this instead of launching while it is not negative.
extern std::atomic<INT_PTR> g_forcedShellResult;
// Programs whose image the system accepted (exec succeeded).
extern std::atomic<long> g_shellLaunchCount;
// Keeps what a ShellExecuteA call asked for, for LastLaunch.
void RecordLaunch(const LaunchRecord& launch);

}  // namespace internal
}  // namespace qxplatform
