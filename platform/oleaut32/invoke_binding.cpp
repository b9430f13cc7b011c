// Binding one argument. A value parameter gets the argument coerced to its
// type; a reference of the parameter's own type is passed on as it is, so
// the callee writes through to the caller; any other reference parameter
// points into a value this call owns.
#include "invoke_binding.h"

#include <oleauto.h>

namespace qxplatform {
namespace internal {
namespace {

// A value converted to shape into owned (and, for a particular interface,
// asked for that interface).
HRESULT Coerce(const VARIANT& source, const ValueShape& shape, VARIANT* owned) {
  HRESULT hr = VariantChangeType(owned, &source, 0, shape.vt);
  if (hr == E_NOTIMPL) return DISP_E_TYPEMISMATCH;
  if (FAILED(hr) || !shape.hasIid || owned->punkVal == nullptr) return hr;
  void* particular = nullptr;
  hr = owned->punkVal->QueryInterface(shape.iid, &particular);
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  owned->punkVal->Release();
  owned->byref = particular;
  return S_OK;
}

}  // namespace

Slot::Slot() {
  VariantInit(&frame);
  VariantInit(&owned);
  VariantInit(&defaulted);
}

Slot::~Slot() {
  VariantClear(&owned);
  VariantClear(&defaulted);
}

bool IsMissingMarker(const VARIANT& value) {
  return value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND;
}

void ZeroValue(VARTYPE vt, VARIANT* value) {
  VariantInit(value);
  value->pvRecord = nullptr;
  value->pRecInfo = nullptr;
  if (vt != VT_VARIANT) value->vt = vt;
}

HRESULT Bind(USHORT paramFlags, const ValueShape& shape, const VARIANT* source,
             Slot* slot) {
  static const VARIANT kMissing = [] {
    VARIANT missing;
    VariantInit(&missing);
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    return missing;
  }();
  if (source == nullptr) source = &kMissing;
  if (!shape.byRef) {
    slot->frameType = shape.vt;
    if (shape.vt == VT_VARIANT) {
      slot->frame = *source;  // the callee's copy, which it does not own
      return S_OK;
    }
    HRESULT hr = Coerce(*source, shape, &slot->owned);
    slot->frame = slot->owned;
    return hr;
  }
  slot->frameType = VT_BYREF | shape.vt;
  slot->frame.vt = slot->frameType;
  if ((source->vt & VT_BYREF) != 0) {
    const VARTYPE base = source->vt & ~VT_BYREF;
    if (base == shape.vt) {
      slot->frame.byref = source->byref;
      return S_OK;
    }
    if (base == VT_VARIANT && source->pvarVal != nullptr &&
        source->pvarVal->vt == shape.vt) {
      slot->frame.byref = &source->pvarVal->llVal;
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }
  HRESULT hr = S_OK;
  if (shape.vt == VT_VARIANT) {
    hr = VariantCopy(&slot->owned, source);
    slot->frame.byref = &slot->owned;
    return hr;
  }
  if ((paramFlags & PARAMFLAG_FOUT) != 0 && (paramFlags & PARAMFLAG_FIN) == 0) {
    ZeroValue(shape.vt, &slot->owned);  // what comes in is not looked at
  } else {
    hr = Coerce(*source, shape, &slot->owned);
  }
  slot->frame.byref = &slot->owned.llVal;
  return hr;
}

void BindResult(const ValueShape& shape, Slot* slot) {
  ZeroValue(shape.vt, &slot->owned);
  slot->frameType = VT_BYREF | shape.vt;
  slot->frame.vt = slot->frameType;
  slot->frame.byref = shape.vt == VT_VARIANT ? static_cast<void*>(&slot->owned)
                                             : &slot->owned.llVal;
}

void FillException(HRESULT failure, EXCEPINFO* info) {
  if (info == nullptr) return;
  *info = EXCEPINFO{};
  info->scode = failure;
}

void DeliverResult(VARTYPE returnType, VARIANT* returned, Slot* retval,
                   VARIANT* result) {
  if (result != nullptr) {
    VariantInit(result);
    if (retval != nullptr) {
      *result = retval->owned;
      VariantInit(&retval->owned);  // handed over
    } else if (returnType != VT_HRESULT && returnType != VT_VOID) {
      *result = *returned;
    }
  } else if (returnType == VT_BSTR || returnType == VT_UNKNOWN ||
             returnType == VT_DISPATCH) {
    VariantClear(returned);
  }
}

}  // namespace internal
}  // namespace qxplatform
