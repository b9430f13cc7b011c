// One argument of a dispatch call made ready for its vtable parameter: the
// variant the call frame reads and the value this call owns behind it.
// Shared by the call that reads a fresh function description and the call
// prepared once per member.
#pragma once
#include <oaidl.h>

#include "invoke_types.h"

namespace qxplatform {
namespace internal {

constexpr UINT kNoArgument = static_cast<UINT>(-1);

// What one frame argument needs: the variant the frame reads, the value it
// points into when it is a reference this call made, and a default value
// made for this call. The slot clears what it owns.
struct Slot {
  VARTYPE frameType = VT_EMPTY;
  VARIANT frame;
  VARIANT owned;
  VARIANT defaulted;
  Slot();
  ~Slot();
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;
};

bool IsMissingMarker(const VARIANT& value);

// A zero value of type vt (VT_VARIANT: an empty variant).
void ZeroValue(VARTYPE vt, VARIANT* value);

// Fills slot for a parameter with paramFlags and shape given source (a
// default when nothing came from rgvarg), or for one left out when source
// is null.
HRESULT Bind(USHORT paramFlags, const ValueShape& shape, const VARIANT* source,
             Slot* slot);

// The slot of a retval parameter of shape, which must be a reference.
void BindResult(const ValueShape& shape, Slot* slot);

// A failing HRESULT of the callee as the exception IDispatch reports.
void FillException(HRESULT failure, EXCEPINFO* info);

// Hands a successful call's outcome to the caller's result, when there is
// one: the value of the retval parameter's slot (null: none), else what the
// function returned (returned, read only for a type other than VT_HRESULT
// and VT_VOID). A returned string or interface nobody asked for is released.
void DeliverResult(VARTYPE returnType, VARIANT* returned, Slot* retval,
                   VARIANT* result);

}  // namespace internal
}  // namespace qxplatform
