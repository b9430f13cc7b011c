// VariantChangeType(Ex): a variant converted to another fundamental type.
// The result is built apart and only then replaces the destination, so a
// failed conversion leaves the destination as it was and dest == src
// converts in place. Text is read and written as the English and invariant
// locales do (see number_text.h); a boolean becomes "-1"/"0" unless the
// caller asks for its name (VARIANT_ALPHABOOL, VARIANT_LOCALBOOL: "True"/
// "False"). An object converts to a number, boolean or text through its
// value property (DISPID_VALUE) unless VARIANT_NOVALUEPROP is given.
// Currency, dates and decimals are not offered: E_NOTIMPL.
#include <oleauto.h>
#include <winnls.h>

#include <cmath>
#include <limits>

#include "number_text.h"
#include "var_change_type.h"
#include "variant_types.h"

namespace qxplatform {
namespace internal {
namespace {

// A number on its way between types: exact for integers, else a double.
struct Number {
  bool isInteger = true;
  bool negative = false;
  uint64_t magnitude = 0;
  double real = 0.0;
};

Number FromSigned(int64_t value) {
  Number number;
  number.negative = value < 0;
  number.magnitude = value < 0 ? 0 - static_cast<uint64_t>(value)
                               : static_cast<uint64_t>(value);
  return number;
}

Number FromUnsigned(uint64_t value) {
  Number number;
  number.magnitude = value;
  return number;
}

Number FromReal(double value) {
  Number number;
  number.isInteger = false;
  number.real = value;
  return number;
}

Number NumberOf(const VARIANT& source) {
  switch (source.vt) {
    case VT_I1:
      return FromSigned(source.cVal);
    case VT_UI1:
      return FromUnsigned(source.bVal);
    case VT_I2:
      return FromSigned(source.iVal);
    case VT_BOOL:
      return FromSigned(source.boolVal);
    case VT_UI2:
      return FromUnsigned(source.uiVal);
    case VT_I4:
    case VT_INT:
      return FromSigned(source.lVal);
    case VT_UI4:
    case VT_UINT:
      return FromUnsigned(source.ulVal);
    case VT_I8:
      return FromSigned(source.llVal);
    case VT_UI8:
      return FromUnsigned(source.ullVal);
    case VT_R4:
      return FromReal(source.fltVal);
    default:
      return FromReal(source.dblVal);
  }
}

// The signed range of an integer type, or the unsigned one's upper bound.
struct IntegerRange {
  bool isSigned;
  uint64_t bits;  // width
};

IntegerRange RangeOf(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
      return {true, 8};
    case VT_UI1:
      return {false, 8};
    case VT_I2:
      return {true, 16};
    case VT_UI2:
      return {false, 16};
    case VT_I4:
    case VT_INT:
      return {true, 32};
    case VT_UI4:
    case VT_UINT:
      return {false, 32};
    case VT_I8:
      return {true, 64};
    default:
      return {false, 64};
  }
}

void StoreInteger(VARTYPE vt, int64_t value, VARIANT* dest) {
  dest->llVal = 0;
  switch (vt) {
    case VT_I1:
      dest->cVal = static_cast<CHAR>(value);
      break;
    case VT_UI1:
      dest->bVal = static_cast<BYTE>(value);
      break;
    case VT_I2:
      dest->iVal = static_cast<SHORT>(value);
      break;
    case VT_UI2:
      dest->uiVal = static_cast<USHORT>(value);
      break;
    case VT_I4:
    case VT_INT:
      dest->lVal = static_cast<LONG>(value);
      break;
    case VT_UI4:
    case VT_UINT:
      dest->ulVal = static_cast<ULONG>(value);
      break;
    default:
      dest->llVal = value;
      break;
  }
  dest->vt = vt;
}

// Rounds half to even, as every conversion of a fraction to an integer
// does; NaN and values beyond 2^64 overflow.
HRESULT RealToInteger(double value, Number* number) {
  double rounded = std::nearbyint(value);
  if (!(std::fabs(rounded) < 18446744073709551616.0)) return DISP_E_OVERFLOW;
  number->isInteger = true;
  number->negative = rounded < 0;
  number->magnitude = static_cast<uint64_t>(std::fabs(rounded));
  return S_OK;
}

HRESULT NumberTo(Number number, VARTYPE vt, VARIANT* dest) {
  if (vt == VT_BOOL) {
    bool isTrue = number.isInteger ? number.magnitude != 0 : number.real != 0;
    dest->llVal = 0;
    dest->boolVal = isTrue ? VARIANT_TRUE : VARIANT_FALSE;
    dest->vt = VT_BOOL;
    return S_OK;
  }
  if (vt == VT_R8 || vt == VT_R4) {
    double value =
        number.isInteger ? static_cast<double>(number.magnitude) : number.real;
    if (number.isInteger && number.negative) value = -value;
    dest->llVal = 0;
    if (vt == VT_R4) {
      if (std::isfinite(value) &&
          std::fabs(value) > std::numeric_limits<float>::max()) {
        // Values just above the largest float still round down to it.
        float narrowed = static_cast<float>(value);
        if (std::isinf(narrowed)) return DISP_E_OVERFLOW;
      }
      dest->fltVal = static_cast<float>(value);
    } else {
      dest->dblVal = value;
    }
    dest->vt = vt;
    return S_OK;
  }
  if (!number.isInteger) {
    HRESULT hr = RealToInteger(number.real, &number);
    if (FAILED(hr)) return hr;
  }
  const IntegerRange range = RangeOf(vt);
  const uint64_t unsignedMax =
      range.bits == 64 ? UINT64_MAX : (uint64_t{1} << range.bits) - 1;
  int64_t value = 0;
  if (range.isSigned) {
    const uint64_t positiveMax = unsignedMax >> 1;
    if (number.negative ? number.magnitude > positiveMax + 1
                        : number.magnitude > positiveMax)
      return DISP_E_OVERFLOW;
    value = number.negative ? static_cast<int64_t>(0 - number.magnitude)
                            : static_cast<int64_t>(number.magnitude);
  } else {
    if ((number.negative && number.magnitude != 0) ||
        number.magnitude > unsignedMax)
      return DISP_E_OVERFLOW;
    value = static_cast<int64_t>(number.magnitude);
  }
  StoreInteger(vt, value, dest);
  return S_OK;
}

}  // namespace

HRESULT TextToNumber(const OLECHAR* text, size_t length, VARTYPE vt,
                     VARIANT* dest) {
  if (vt == VT_BOOL) {
    bool value = false;
    if (ParseBoolWord(text, length, &value)) {
      dest->llVal = 0;
      dest->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
      dest->vt = VT_BOOL;
      return S_OK;
    }
  }
  TextNumber parsed;
  HRESULT hr = ParseNumber(text, length, &parsed);
  if (FAILED(hr)) return hr;
  Number number;
  if (parsed.prefixed) {
    // A "&H"/"&O" literal is a bit pattern: it fills a signed target of
    // its width as two's complement ("&HFFFF" is -1 as an I2).
    const IntegerRange range = RangeOf(vt);
    number = FromUnsigned(parsed.bits);
    if (vt != VT_R4 && vt != VT_R8 && vt != VT_BOOL && range.isSigned &&
        range.bits < 64 && parsed.bits < (uint64_t{1} << range.bits) &&
        parsed.bits >= (uint64_t{1} << (range.bits - 1)))
      number = FromSigned(static_cast<int64_t>(parsed.bits) -
                          static_cast<int64_t>(uint64_t{1} << range.bits));
    else if (vt == VT_I8)
      number = FromSigned(static_cast<int64_t>(parsed.bits));
    return NumberTo(number, vt, dest);
  }
  if (vt == VT_R4 || vt == VT_R8 || vt == VT_BOOL) {
    double value = 0;
    hr = ToDouble(parsed, &value);
    if (FAILED(hr)) return hr;
    return NumberTo(FromReal(value), vt, dest);
  }
  hr = RoundToInteger(parsed, &number.negative, &number.magnitude);
  if (FAILED(hr)) return hr;
  return NumberTo(number, vt, dest);
}

namespace {

HRESULT TextOf(const VARIANT& source, USHORT flags, BSTR* text) {
  std::u16string value;
  if (source.vt == VT_EMPTY) {
    value.clear();
  } else if (source.vt == VT_BOOL &&
             (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0) {
    value = source.boolVal != VARIANT_FALSE ? u"True" : u"False";
  } else if (source.vt == VT_R4) {
    value = FormatReal(source.fltVal, 7);
  } else if (source.vt == VT_R8) {
    value = FormatReal(source.dblVal, 15);
  } else {
    Number number = NumberOf(source);
    value = FormatInteger(number.negative, number.magnitude);
  }
  *text = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  return *text == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT Convert(const VARIANT& source, LCID lcid, USHORT flags, VARTYPE vt,
                VARIANT* dest);

// An object's value property, converted; the value is asked for once, so
// an object whose value is an object again does not lead on.
HRESULT ObjectTo(const VARIANT& source, LCID lcid, USHORT flags, VARTYPE vt,
                 VARIANT* dest) {
  if ((flags & VARIANT_NOVALUEPROP) != 0 || source.punkVal == nullptr)
    return DISP_E_TYPEMISMATCH;
  IDispatch* dispatch = nullptr;
  if (source.vt == VT_DISPATCH) {
    dispatch = source.pdispVal;
    dispatch->AddRef();
  } else if (FAILED(source.punkVal->QueryInterface(
                 IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
    return DISP_E_TYPEMISMATCH;
  }
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = dispatch->Invoke(DISPID_VALUE, GUID{}, lcid,
                                DISPATCH_PROPERTYGET, &none, &value,
                                /*pExcepInfo=*/nullptr, /*puArgErr=*/nullptr);
  dispatch->Release();
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  hr = Convert(value, lcid, flags | VARIANT_NOVALUEPROP, vt, dest);
  VariantClear(&value);
  return hr;
}

HRESULT InterfaceTo(const VARIANT& source, VARTYPE vt, VARIANT* dest) {
  dest->llVal = 0;
  dest->punkVal = nullptr;
  dest->vt = vt;
  if (source.punkVal == nullptr) return S_OK;
  HRESULT hr = source.punkVal->QueryInterface(
      vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &dest->byref);
  if (FAILED(hr)) {
    dest->vt = VT_EMPTY;
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

// source holds a value (not a reference) of a valid type.
HRESULT Convert(const VARIANT& source, LCID lcid, USHORT flags, VARTYPE vt,
                VARIANT* dest) {
  VariantInit(dest);
  if (source.vt == vt) return VariantCopy(dest, &source);
  const VARTYPE from = source.vt;
  if (from == VT_CY || from == VT_DATE || from == VT_DECIMAL) return E_NOTIMPL;
  if (from == VT_DISPATCH || from == VT_UNKNOWN) {
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN)
      return InterfaceTo(source, vt, dest);
    return ObjectTo(source, lcid, flags, vt, dest);
  }
  switch (vt) {
    case VT_EMPTY:
      return DISP_E_TYPEMISMATCH;
    case VT_NULL:
      if (from != VT_EMPTY) return DISP_E_TYPEMISMATCH;
      dest->vt = VT_NULL;
      return S_OK;
    case VT_BSTR:
      if (from == VT_NULL || from == VT_ERROR) return DISP_E_TYPEMISMATCH;
      dest->vt = VT_BSTR;
      return TextOf(source, flags, &dest->bstrVal);
    default:
      break;
  }
  if (TraitsOf(vt).numeric) {
    if (from == VT_EMPTY) return NumberTo(FromUnsigned(0), vt, dest);
    if (from == VT_BSTR)
      return TextToNumber(source.bstrVal != nullptr ? source.bstrVal : u"",
                          SysStringLen(source.bstrVal), vt, dest);
    if (TraitsOf(from).numeric) return NumberTo(NumberOf(source), vt, dest);
  }
  return DISP_E_TYPEMISMATCH;
}

bool IsTargetType(VARTYPE vt) {
  return vt == VT_EMPTY || vt == VT_NULL || vt == VT_BSTR ||
         vt == VT_DISPATCH || vt == VT_UNKNOWN || vt == VT_ERROR ||
         TraitsOf(vt).numeric;
}

}  // namespace
}  // namespace internal
}  // namespace qxplatform

HRESULT WINAPI VariantChangeTypeEx(VARIANTARG* pvargDest,
                                   const VARIANTARG* pvarSrc, LCID lcid,
                                   USHORT wFlags, VARTYPE vt) {
  using namespace qxplatform::internal;
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  const VARTYPE sourceBase = pvarSrc->vt & ~VT_BYREF;
  if (!TraitsOf(sourceBase).held && pvarSrc->vt != (VT_BYREF | VT_VARIANT))
    return DISP_E_BADVARTYPE;
  if (!IsTargetType(vt)) {
    if (vt == VT_CY || vt == VT_DATE || vt == VT_DECIMAL) return E_NOTIMPL;
    return DISP_E_BADVARTYPE;
  }
  VARIANT source;
  HRESULT hr = Dereference(*pvarSrc, &source);
  if (FAILED(hr)) return hr;
  if (!TraitsOf(source.vt).held) return DISP_E_BADVARTYPE;
  VARIANT result;
  hr = Convert(source, lcid, wFlags, vt, &result);
  if (FAILED(hr)) return hr;
  // dest may be the source, or what it refers to: both are done with now.
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}

HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest,
                                 const VARIANTARG* pvarSrc, USHORT wFlags,
                                 VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags,
                             vt);
}
