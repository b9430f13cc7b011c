// How variants travel through a libffi call frame: the frame type of a
// value of each variant type, the ABI a calling convention names, and the
// raw result a call leaves, stored back as a variant. DispCallFunc and the
// prepared calls of ITypeInfo::Invoke share them, so both frame a value
// the same way.
#pragma once
#include <ffi.h>
#include <oaidl.h>
#include <stdint.h>

namespace qxplatform {
namespace internal {

// Small integer results come back widened to a full register.
union FrameResult {
  ffi_arg word;
  uint64_t wide;
  double real;
  float single;
  VARIANT variant;
};

// Null when a value of type vt cannot travel.
ffi_type* FrameTypeOf(VARTYPE vt);

ffi_abi AbiOf(CALLCONV cc);

// result as a variant of type vtReturn (neither VT_VOID nor VT_EMPTY).
void StoreFrameResult(VARTYPE vtReturn, const FrameResult& result,
                      VARIANT* stored);

}  // namespace internal
}  // namespace qxplatform
