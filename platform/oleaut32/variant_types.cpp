// The table of variant types. Rows are indexed by the type's number, which
// runs to VT_UINT_PTR; the gaps and the pointer-like description types
// (VT_PTR, VT_USERDEFINED, C strings) have no traits a variant can use.
#include "variant_types.h"

#include <string.h>

#include <array>

namespace qxplatform {
namespace internal {
namespace {

constexpr uint8_t kPointer = sizeof(void*);
constexpr VARTYPE kLastType = 38;  // VT_UINT_PTR

struct Row {
  VARTYPE type;
  VariantTypeTraits traits;
};

constexpr InlineConstant kNo = InlineConstant::kNever;
constexpr InlineConstant kYes = InlineConstant::kAny;
constexpr InlineConstant kNull = InlineConstant::kNullOnly;

// held, referenced size, numeric, travels, stored size, inline constant
constexpr Row kRows[] = {
    {VT_EMPTY, {true, 0, false, false, 0, kNo}},
    {VT_NULL, {true, 0, false, false, 0, kNo}},
    {VT_I2, {true, 2, true, true, 2, kYes}},
    {VT_I4, {true, 4, true, true, 4, kYes}},
    {VT_R4, {true, 4, true, true, 4, kNo}},
    {VT_R8, {true, 8, true, true, 8, kNo}},
    {VT_CY, {true, 8, false, true, 8, kNo}},
    {VT_DATE, {true, 8, false, true, 8, kNo}},
    {VT_BSTR, {true, kPointer, false, true, -1, kNo}},
    {VT_DISPATCH, {true, kPointer, false, true, -1, kNull}},
    {VT_ERROR, {true, 4, false, true, 4, kYes}},
    {VT_BOOL, {true, 2, true, true, 2, kYes}},
    {VT_VARIANT, {false, sizeof(VARIANT), false, true, -1, kNo}},
    {VT_UNKNOWN, {true, kPointer, false, true, -1, kNull}},
    {VT_DECIMAL, {true, 0, false, false, -1, kNo}},
    {VT_I1, {true, 1, true, true, 1, kYes}},
    {VT_UI1, {true, 1, true, true, 1, kYes}},
    {VT_UI2, {true, 2, true, true, 2, kYes}},
    {VT_UI4, {true, 4, true, true, 4, kYes}},
    {VT_I8, {true, 8, true, true, 8, kNo}},
    {VT_UI8, {true, 8, true, true, 8, kNo}},
    {VT_INT, {true, 4, true, true, 4, kYes}},
    {VT_UINT, {true, 4, true, true, 4, kYes}},
};

constexpr std::array<VariantTypeTraits, kLastType + 1> Index() {
  std::array<VariantTypeTraits, kLastType + 1> table{};
  for (const Row& row : kRows) table[row.type] = row.traits;
  return table;
}

constexpr std::array<VariantTypeTraits, kLastType + 1> kTraits = Index();
constexpr VariantTypeTraits kNone{};

}  // namespace

const VariantTypeTraits& TraitsOf(VARTYPE type) {
  return type <= kLastType ? kTraits[type] : kNone;
}

bool ValueFromBits(VARTYPE type, uint64_t bits, VARIANT* variant) {
  const int size = TraitsOf(type).storedSize;
  if (size <= 0) return false;
  variant->llVal = 0;
  memcpy(&variant->llVal, &bits, static_cast<size_t>(size));
  variant->vt = type;
  return true;
}

}  // namespace internal
}  // namespace qxplatform
