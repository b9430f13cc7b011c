// Test and host controls of the shell launch: a forced ShellExecuteA result
// and the count of programs actually started.
#include <qxplatform/controls.h>

#include "platform_internal.h"
#include "shell_state.h"

namespace qxplatform {
namespace internal {

std::atomic<INT_PTR> g_forcedShellResult{-1};
std::atomic<long> g_shellLaunchCount{0};

void ResetShellControls() { g_forcedShellResult.store(-1); }

}  // namespace internal

void ForceShellExecuteResult(INT_PTR result) {
  internal::g_forcedShellResult.store(result < 0 ? -1 : result);
}

long ShellLaunchCount() { return internal::g_shellLaunchCount.load(); }

}  // namespace qxplatform
