// How a parameter or result described by a TYPEDESC travels in a vtable
// call: the variant type of its value, whether the callee gets a pointer to
// it, and, for an interface pointer, which interface. Enums travel as VT_I4,
// aliases as what they name, interfaces as VT_UNKNOWN (VT_DISPATCH for
// dispatch interfaces). Records, arrays and C strings are not offered.
#pragma once
#include <oaidl.h>

namespace qxplatform {
namespace internal {

struct ValueShape {
  VARTYPE vt = VT_EMPTY;  // VT_VARIANT for a VARIANT
  bool byRef = false;
  bool hasIid = false;  // a particular interface, other than vt's own
  IID iid = {};
};

// DISP_E_BADVARTYPE for a type that cannot travel; errors of types when a
// user-defined type cannot be resolved.
HRESULT ShapeOf(ITypeInfo* types, const TYPEDESC& type, ValueShape* shape);

}  // namespace internal
}  // namespace qxplatform
