// What the automation runtime knows about variant types: which ones a
// VARIANT may hold, how many bytes a value of each takes where a reference
// points at it, which convert as numbers, which travel through Invoke, and
// how a type library stores a constant of each. One table answers all of
// these, so a type added is added once.
#pragma once
#include <oaidl.h>

#include <stddef.h>
#include <stdint.h>

namespace qxplatform {
namespace internal {

// How a type library may store a constant of a type inside its description
// (26 bits): integers always, object pointers only as null, as compilers
// store an object parameter's defaultvalue(0).
enum class InlineConstant : uint8_t { kNever, kAny, kNullOnly };

struct VariantTypeTraits {
  // A VARIANT may hold a value of it (arrays aside).
  bool held = false;
  // Bytes of a value where a reference points at it; 0 where none is taken
  // (VT_DECIMAL fills the whole variant).
  uint8_t referencedSize = 0;
  // Converts to and from the other numbers and text (VariantChangeType).
  bool numeric = false;
  // A parameter or result of it travels through Invoke's vtable calls.
  bool travels = false;
  // Bytes of a constant in a type library's custom data; -1: not stored.
  int8_t storedSize = -1;
  InlineConstant inlineConstant = InlineConstant::kNever;
};

// The traits of type (no VT_BYREF or array bits); an unknown type has
// none of them.
const VariantTypeTraits& TraitsOf(VARTYPE type);

// A value that is nothing but its bits (a number, boolean, error, currency
// or date: a type whose storedSize is above 0), made from the low bytes of
// bits as the platform's little-endian union holds it. False, with the
// variant untouched, for any other type.
bool ValueFromBits(VARTYPE type, uint64_t bits, VARIANT* variant);

// A shallow copy of what a reference points at, as a variant holding it by
// value; it owns nothing. E_INVALIDARG for a null reference or a reference
// to a variant that is itself a reference; DISP_E_BADVARTYPE for an unknown
// type. A variant that is not a reference is copied as it is.
HRESULT Dereference(const VARIANT& source, VARIANT* view);

}  // namespace internal
}  // namespace qxplatform
