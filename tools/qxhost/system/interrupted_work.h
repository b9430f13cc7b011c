// Work the host may be stopped in the middle of (by --timeout), recorded beforehand so that whatever stops the
// process can say what did not end and remove the folder the work would
// have removed itself. Everything the stop reads is in fixed buffers,
// filled before it is published: the stop runs in a signal handler.
#pragma once
#include <string>

namespace qxhost {

// Records the work ("the install of 'x.cab'") until the holder goes; at
// most one at a time.
class InterruptibleWork {
 public:
  explicit InterruptibleWork(const std::string& what);
  ~InterruptibleWork();
  InterruptibleWork(const InterruptibleWork&) = delete;
  InterruptibleWork& operator=(const InterruptibleWork&) = delete;
};

// The step the recorded work is at, a string literal ("while checking the
// cabinet's signature"); nothing when no work is recorded.
void SetInterruptibleStep(const char* step);
// The folder a stop removes with everything in it, an absolute path; ""
// forgets it. A path too long for the fixed buffer is not recorded (the
// next install removes the folder once its owner is gone).
void SetInterruptibleFolder(const std::string& folder);

// For a handler that stops the process: writes "<what> did not end (<step>)"
// to fd and removes the recorded folder. False, having written nothing,
// when no work is recorded. Async-signal-safe.
bool StopInterruptedWork(int fd);

}  // namespace qxhost
