// The deadline is an ITIMER_REAL timer, which a started program does not
// inherit across fork; the handler only calls functions safe in a signal
// handler (write, _exit, and an install's clean-up), with a message built
// before arming.
#include "tools/qxhost/script/script_watchdog.h"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/qxhost/system/host_output.h"
#include "tools/qxhost/system/interrupted_work.h"

namespace qxhost {
namespace {

char g_message[512];
size_t g_messageLength = 0;
constexpr char kScriptDidNotEnd[] = "the script did not end\n";

// An install the page started says itself what did not end, and removes
// what it had staged; otherwise the script is what did not end.
void OnDeadline(int /*signal*/) {
  ssize_t ignored = write(STDERR_FILENO, g_message, g_messageLength);
  if (!StopInterruptedWork(STDERR_FILENO))
    ignored = write(STDERR_FILENO, kScriptDidNotEnd, sizeof kScriptDidNotEnd - 1);
  (void)ignored;
  _exit(kExitFailure);
}

}  // namespace

void ArmScriptWatchdog(double seconds, const std::string& fileName) {
  int length = std::snprintf(
      g_message, sizeof g_message,
      "qxhost: %s: stopped after %g seconds (--timeout); ",
      fileName.c_str(), seconds);
  g_messageLength =
      length < 0 ? 0
                 : std::min(static_cast<size_t>(length), sizeof g_message - 1);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnDeadline;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGALRM, &action, nullptr);

  double whole = std::floor(seconds);
  struct itimerval timer = {};
  timer.it_value.tv_sec = static_cast<time_t>(whole);
  timer.it_value.tv_usec = static_cast<suseconds_t>((seconds - whole) * 1e6);
  if (timer.it_value.tv_sec == 0 && timer.it_value.tv_usec == 0)
    timer.it_value.tv_usec = 1;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void DisarmScriptWatchdog() {
  struct itimerval timer = {};
  setitimer(ITIMER_REAL, &timer, nullptr);
}

}  // namespace qxhost
