// What the automation runtime knows about variant types: which ones a
// VARIANT may hold, and how many bytes a value of each takes where a
// reference points at it.
#pragma once
#include <oaidl.h>

#include <stddef.h>

namespace qxplatform {
namespace internal {

// The variant types a VARIANT may hold by value (arrays aside).
bool IsValueType(VARTYPE type);

// The size of a value of type (a value type, or VT_VARIANT) where a
// reference points at it; 0 for types without one.
size_t ValueSize(VARTYPE type);

// A shallow copy of what a reference points at, as a variant holding it by
// value; it owns nothing. E_INVALIDARG for a null reference or a reference
// to a variant that is itself a reference; DISP_E_BADVARTYPE for an unknown
// type. A variant that is not a reference is copied as it is.
HRESULT Dereference(const VARIANT& source, VARIANT* view);

}  // namespace internal
}  // namespace qxplatform
