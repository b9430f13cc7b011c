// Conversions of VariantChangeType that the runtime's other entry points
// share, so that every reader of numbers in text reads them alike.
#pragma once
#include <oaidl.h>

#include <stddef.h>

namespace qxplatform {
namespace internal {

// text (length units, no terminator needed) as a number of type vt (a
// numeric type) in *dest, which is written only on success: S_OK,
// DISP_E_TYPEMISMATCH for text that is no number, DISP_E_OVERFLOW for one
// out of vt's range.
HRESULT TextToNumber(const OLECHAR* text, size_t length, VARTYPE vt,
                     VARIANT* dest);

}  // namespace internal
}  // namespace qxplatform
