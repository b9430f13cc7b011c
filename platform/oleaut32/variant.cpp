// VARIANT lifetime: initialising, clearing and copying. A variant owns its
// BSTR and holds a reference on its interface pointer, unless it only refers
// to them (VT_BYREF); a copy owns its own.
#include <oleauto.h>
#include <string.h>

#include "variant_types.h"

namespace qxplatform {
namespace internal {

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
  const VariantTypeTraits& traits = TraitsOf(base);
  const size_t size = traits.referencedSize;
  if (!traits.held || size == 0) return DISP_E_BADVARTYPE;
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
using qxplatform::internal::TraitsOf;

namespace {

// A valid type of a variant this runtime can hold; safe arrays are not
// provided, so no variant can hold one.
bool IsHeldType(VARTYPE type) {
  if ((type & VT_BYREF) != 0) {
    VARTYPE base = type & ~VT_BYREF;
    return TraitsOf(base).held || base == VT_VARIANT;
  }
  return TraitsOf(type).held;
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
