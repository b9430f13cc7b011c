// ResetControls: puts every platform control back to its default, the
// kernel's own and those of the registry and shell areas.
#include <qxplatform/controls.h>

#include "kernel_internal.h"
#include "platform_internal.h"

namespace qxplatform {
namespace internal {

void ResetKernelControls() {
  ResetHeapControls();
  ResetTaskAllocatorControls();
  ResetSystemInfoControls();
  ResetCodePageControls();
}

}  // namespace internal

void ResetControls() {
  internal::ResetKernelControls();
  internal::ResetRegistryControls();
  internal::ResetShellControls();
  internal::ResetTypeLibControls();
}

}  // namespace qxplatform
