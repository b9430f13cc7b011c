// The bytes of the platform's stdole2.tlb, compiled from stdole2/stdole2.idl
// (its types put in the system library's order, stdole2/order_types.cpp)
// once for each system kind a library may be made for and generated into
// source files: a library made for 32-bit Windows imports the first, one
// made for 64-bit Windows the second.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace qxplatform {
namespace internal {

extern const uint8_t kBuiltInStdole2Win32[];
extern const size_t kBuiltInStdole2Win32Size;
extern const uint8_t kBuiltInStdole2Win64[];
extern const size_t kBuiltInStdole2Win64Size;

}  // namespace internal
}  // namespace qxplatform
