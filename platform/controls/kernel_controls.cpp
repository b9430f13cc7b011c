// ResetControls: puts every platform control back to its default, the
// kernel's own and those of the registry and shell areas; and the checking
// of a Windows image's calls into the platform.
#include <qxplatform/controls.h>

#include "kernel_internal.h"
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
}

}  // namespace internal

void CheckImportStacks(bool on) { internal::SetImportStackChecking(on); }

long ImportStackMismatches() { return internal::CountImportStackMismatches(); }

void ResetControls() {
  internal::ResetKernelControls();
  internal::ResetRegistryControls();
  internal::ResetShellControls();
  internal::ResetTypeLibControls();
}

}  // namespace qxplatform
