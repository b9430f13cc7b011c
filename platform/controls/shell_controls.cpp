// Test and host controls of the shell launch: a forced ShellExecuteA result,
// the count of programs actually started and what the last call asked for.
#include <qxplatform/controls.h>

#include <mutex>

#include "platform_internal.h"
#include "shell_state.h"

namespace qxplatform {
namespace internal {

std::atomic<INT_PTR> g_forcedShellResult{-1};
std::atomic<long> g_shellLaunchCount{0};

namespace {

struct LastLaunchState {
  std::mutex mutex;
  LaunchRecord record;
};

LastLaunchState& LastLaunchSlot() {
  static LastLaunchState* slot = new LastLaunchState();  // outlives callers
  return *slot;
}

}  // namespace

void RecordLaunch(const LaunchRecord& launch) {
  LastLaunchState& slot = LastLaunchSlot();
  std::lock_guard<std::mutex> guard(slot.mutex);
  slot.record = launch;
}

void ResetShellControls() {
  g_forcedShellResult.store(-1);
  RecordLaunch(LaunchRecord());
}

}  // namespace internal

void ForceShellExecuteResult(INT_PTR result) {
  internal::g_forcedShellResult.store(result < 0 ? -1 : result);
}

long ShellLaunchCount() { return internal::g_shellLaunchCount.load(); }

LaunchRecord LastLaunch() {
  internal::LastLaunchState& slot = internal::LastLaunchSlot();
  std::lock_guard<std::mutex> guard(slot.mutex);
  return slot.record;
}

}  // namespace qxplatform
