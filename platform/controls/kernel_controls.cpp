// ResetControls: puts every platform control back to its default, the
// kernel's own and those of the registry and shell areas; the checking of a
// Windows image's calls into the platform; and the reason for the last
// refused load.
#include <qxplatform/controls.h>

#include "kernel_internal.h"
#include "load_failure.h"
#include "platform_internal.h"
#include "thread_environment.h"

namespace qxplatform {
namespace internal {

void ResetKernelControls() {
  ResetHeapControls();
  ResetTaskAllocatorControls();
  ResetSystemInfoControls();
  ResetCodePageControls();
  ResetImportStackChecking();
  ForgetLoadFailure();
}

}  // namespace internal

void CheckImportStacks(bool on) { internal::SetImportStackChecking(on); }

long ImportStackMismatches() { return internal::CountImportStackMismatches(); }

std::string LastLoadFailure() { return internal::LastLoadFailureText(); }

void ResetControls() {
  internal::ResetKernelControls();
  internal::ResetRegistryControls();
  internal::ResetShellControls();
  internal::ResetTypeLibControls();
}

}  // namespace qxplatform
