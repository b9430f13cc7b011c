// Why a load was refused, kept for the thread that asked: LoadLibrary
// reports the refusal's code through SetLastError, and its text here, for a
// host to show through the LastLoadFailure control. A code alone cannot say
// which library or which of its imports was missing.
#pragma once
#include <windows.h>

#include <string>

namespace qxplatform {
namespace internal {

// Records "cannot load <what>: <reason>" as the calling thread's last
// refused load and sets status as its last error.
void RefuseLoad(DWORD status, const std::string& what,
                const std::string& reason);

// The calling thread's last refused load; empty when none was refused since
// the thread started or ForgetLoadFailure.
std::string LastLoadFailureText();
void ForgetLoadFailure();

}  // namespace internal
}  // namespace qxplatform
