// VARIANT lifetime: initialising, clearing and copying. A variant owns its
// BSTR and holds a reference on its interface pointer, unless it only refers
// to them (VT_BYREF); a copy owns its own.
#include <oleauto.h>
#include <string.h>

#include "variant_types.h"

namespace qxplatform {
namespace internal {

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

size_t ValueSize(VARTYPE type) {
  switch (type) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;  // VT_DECIMAL fills the whole variant: not by reference here
  }
}

HRESULT Dereference(const VARIANT& source, VARIANT* view) {
  if ((source.vt & VT_BYREF) == 0) {
    *view = source;
    return S_OK;
  }
  const VARTYPE base = source.vt & ~VT_BYREF;
  if (base == VT_VARIANT) {
    const VARIANT* target = source.pvarVal;
    if (target == nullptr || (target->vt & VT_BYREF) != 0) return E_INVALIDARG;
    *view = *target;
    return S_OK;
  }
  const size_t size = ValueSize(base);
  if (!IsValueType(base) || size == 0) return DISP_E_BADVARTYPE;
  if (source.byref == nullptr) return E_INVALIDARG;
  VariantInit(view);
  view->llVal = 0;
  memcpy(&view->llVal, source.byref, size);
  view->vt = base;
  return S_OK;
}

}  // namespace internal
}  // namespace qxplatform

using qxplatform::internal::Dereference;
using qxplatform::internal::IsValueType;

namespace {

// A valid type of a variant this runtime can hold; safe arrays are not
// provided, so no variant can hold one.
bool IsHeldType(VARTYPE type) {
  if ((type & VT_BYREF) != 0) {
    VARTYPE base = type & ~VT_BYREF;
    return IsValueType(base) || base == VT_VARIANT;
  }
  return IsValueType(type);
}

// Copies source's value into dest (whose old value is already gone): the
// BSTR anew, interfaces with one more reference, references as they are.
HRESULT CopyValue(const VARIANT& source, VARIANT* dest) {
  VARIANT copy = source;
  if (source.vt == VT_BSTR && source.bstrVal != nullptr) {
    copy.bstrVal =
        SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source.bstrVal),
                              SysStringByteLen(source.bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  } else if ((source.vt == VT_UNKNOWN || source.vt == VT_DISPATCH) &&
             source.punkVal != nullptr) {
    source.punkVal->AddRef();
  }
  *dest = copy;
  return S_OK;
}

}  // namespace

void WINAPI VariantInit(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

HRESULT WINAPI VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  VARTYPE type = pvarg->vt;
  if (!IsHeldType(type)) return DISP_E_BADVARTYPE;
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

HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!IsHeldType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  return CopyValue(*pvargSrc, pvargDest);
}

HRESULT WINAPI VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if ((pvargSrc->vt & VT_BYREF) == 0) return VariantCopy(pvarDest, pvargSrc);
  if (!IsHeldType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  VARIANT view;
  HRESULT hr = Dereference(*pvargSrc, &view);
  if (FAILED(hr)) return hr;
  // The copy is made before dest is cleared: dest may be the reference
  // itself, or what it points at.
  VARIANT copy;
  hr = CopyValue(view, &copy);
  if (FAILED(hr)) return hr;
  if (pvarDest != pvargSrc) {
    hr = VariantClear(pvarDest);
    if (FAILED(hr)) {
      VariantClear(&copy);
      return hr;
    }
  }
  *pvarDest = copy;
  return S_OK;
}
