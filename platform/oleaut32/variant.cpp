// VARIANT initialisation and clearing: a variant owns its BSTR and holds a
// reference on its interface pointer, unless it only refers to them (VT_BYREF).
#include <oleauto.h>

namespace {

// The variant types a VARIANT may hold by value (arrays aside).
bool IsValueType(VARTYPE type) {
  switch (type) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

}  // namespace

void WINAPI VariantInit(VARIANTARG* pvarg) {
  if (pvarg != nullptr) pvarg->vt = VT_EMPTY;
}

HRESULT WINAPI VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  VARTYPE type = pvarg->vt;
  if ((type & VT_BYREF) != 0) {
    VARTYPE base = type & VT_TYPEMASK;
    if (!IsValueType(base) && base != VT_VARIANT) return DISP_E_BADVARTYPE;
    pvarg->vt = VT_EMPTY;  // a reference owns nothing
    return S_OK;
  }
  // Safe arrays are not provided by this platform, so a variant cannot hold
  // one that this function could destroy.
  if (!IsValueType(type)) return DISP_E_BADVARTYPE;
  if (type == VT_BSTR) {
    SysFreeString(pvarg->bstrVal);
  } else if (type == VT_UNKNOWN && pvarg->punkVal != nullptr) {
    pvarg->punkVal->Release();
  } else if (type == VT_DISPATCH && pvarg->pdispVal != nullptr) {
    pvarg->pdispVal->Release();
  }
  pvarg->vt = VT_EMPTY;
  return S_OK;
}
