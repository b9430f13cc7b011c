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

// Stand-ins so the library links while the registry and shell areas are
// built without their controls; their real definitions take precedence.
__attribute__((weak)) void ResetRegistryControls() {}
__attribute__((weak)) void ResetShellControls() {}

}  // namespace internal

void ResetControls() {
  internal::ResetKernelControls();
  internal::ResetRegistryControls();
  internal::ResetShellControls();
}

}  // namespace qxplatform
