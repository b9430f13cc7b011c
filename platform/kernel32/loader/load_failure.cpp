// The calling thread's last refused load (load_failure.h).
#include "load_failure.h"

namespace qxplatform {
namespace internal {
namespace {

// Per thread, as the last error is: a load refused on another thread says
// nothing about this one's.
thread_local std::string t_lastFailure;

}  // namespace

void RefuseLoad(DWORD status, const std::string& what,
                const std::string& reason) {
  t_lastFailure = "cannot load " + what + ": " + reason;
  SetLastError(status);
}

std::string LastLoadFailureText() { return t_lastFailure; }

void ForgetLoadFailure() { t_lastFailure.clear(); }

}  // namespace internal
}  // namespace qxplatform
