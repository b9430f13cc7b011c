// The bytes of the platform's stdole2.tlb, compiled from stdole2/stdole2.idl
// for the system kind of this build and generated into a source file.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace qxplatform {
namespace internal {

extern const uint8_t kBuiltInStdole2[];
extern const size_t kBuiltInStdole2Size;

}  // namespace internal
}  // namespace qxplatform
