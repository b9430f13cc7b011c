// VARIANT conversions for the dispatch bridge. VariantChangeType is looked
// up in the automation runtime when a result first needs it, so the host
// runs against a runtime that does not offer it yet and reports such a
// result as an error instead.
#include "tools/qxhost/script/variant_bridge.h"

#include <oleauto.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "tools/qxhost/script/dispatch_bridge.h"
#include "tools/qxhost/script/script_session.h"
#include "tools/qxhost/text/engine_text.h"
#include "tools/qxhost/text/status_text.h"

namespace qxhost {
namespace {

typedef HRESULT(WINAPI* ChangeTypeFunction)(VARIANTARG*, const VARIANTARG*,
                                            USHORT, VARTYPE);

ChangeTypeFunction ChangeType() {
  static ChangeTypeFunction function = [] {
    HMODULE runtime = GetModuleHandleA("oleaut32.dll");
    if (runtime == nullptr) return ChangeTypeFunction{};
    return reinterpret_cast<ChangeTypeFunction>(reinterpret_cast<void (*)()>(
        GetProcAddress(runtime, "VariantChangeType")));
  }();
  return function;
}

bool Fail(BridgeFailure* failure, HRESULT hr, const std::string& message) {
  failure->hr = hr;
  failure->message = message;
  return false;
}

struct Utf16Text {
  const char16_t* text;
  size_t units;
  size_t bytes;  // as engine text
};

// Converts straight into a buffer of the engine's heap, so that a string
// result costs the host nothing and is bounded by the engine's cap; run
// under duk_safe_call, which turns a failed allocation into a failure.
duk_ret_t PushUtf16Text(duk_context* context, void* udata) {
  const auto* source = static_cast<const Utf16Text*>(udata);
  void* buffer = duk_push_fixed_buffer(context, source->bytes);
  Utf16ToEngineText(source->text, source->units, static_cast<char*>(buffer));
  duk_buffer_to_string(context, -1);
  return 1;
}

bool PushBstr(duk_context* context, BSTR text, BridgeFailure* failure) {
  if (text == nullptr) {
    duk_push_string(context, "");
    return true;
  }
  Utf16Text source = {text, SysStringLen(text), 0};
  source.bytes = Utf16EngineTextLength(source.text, source.units);
  if (source.bytes > kScriptHeapLimit)
    return Fail(failure, E_OUTOFMEMORY,
                "a string result is larger than script memory allows");
  if (duk_safe_call(context, PushUtf16Text, &source, 0, 1) !=
      DUK_EXEC_SUCCESS) {
    duk_pop(context);
    return Fail(failure, E_OUTOFMEMORY,
                "out of memory for a string result of " +
                    std::to_string(source.units) + " characters");
  }
  return true;
}

bool PushConvertedToText(duk_context* context, const VARIANT& variant,
                         BridgeFailure* failure) {
  char type[16];
  std::snprintf(type, sizeof type, "0x%04X", variant.vt);
  ChangeTypeFunction changeType = ChangeType();
  if (changeType == nullptr)
    return Fail(failure, DISP_E_BADVARTYPE,
                std::string("a result of type ") + type +
                    " cannot be converted: the automation runtime has no "
                    "VariantChangeType");
  VARIANT text;
  VariantInit(&text);
  HRESULT hr = changeType(&text, &variant, /*wFlags=*/0, VT_BSTR);
  if (FAILED(hr) || text.vt != VT_BSTR) {
    VariantClear(&text);
    return Fail(failure, FAILED(hr) ? hr : DISP_E_TYPEMISMATCH,
                std::string("a result of type ") + type +
                    " cannot be converted to text (" +
                    StatusText(FAILED(hr) ? hr : DISP_E_TYPEMISMATCH) + ")");
  }
  bool pushed = PushBstr(context, text.bstrVal, failure);
  VariantClear(&text);
  return pushed;
}

// Integral numbers within int32 as VT_I4, any other as VT_R8.
void NumberToVariant(double number, VARIANT* variant) {
  if (std::isfinite(number) && number == std::trunc(number) &&
      number >= INT32_MIN && number <= INT32_MAX) {
    variant->vt = VT_I4;
    variant->lVal = static_cast<LONG>(number);
  } else {
    variant->vt = VT_R8;
    variant->dblVal = number;
  }
}

// The string at index as a BSTR, charged to the call's *textUnits.
bool StringToVariant(duk_context* context, duk_idx_t index, VARIANT* variant,
                     size_t* textUnits, BridgeFailure* failure) {
  duk_size_t length = 0;
  const char* text = duk_get_lstring(context, index, &length);
  size_t units = EngineTextUtf16Length(text, length);
  if (units > *textUnits)
    return Fail(failure, E_OUTOFMEMORY,
                "arguments too large: one call passes at most " +
                    std::to_string(kMaxCallTextUnits) + " characters of text");
  // Converted straight into the BSTR, with no copy in between.
  BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (bstr == nullptr)
    return Fail(failure, E_OUTOFMEMORY,
                "out of memory for a string argument of " +
                    std::to_string(units) + " characters");
  EngineTextToUtf16(text, length, reinterpret_cast<char16_t*>(bstr));
  *textUnits -= units;
  variant->vt = VT_BSTR;
  variant->bstrVal = bstr;
  return true;
}

}  // namespace

bool ScriptValueToVariant(duk_context* context, duk_idx_t index,
                          VARIANT* variant, size_t* textUnits,
                          BridgeFailure* failure) {
  VariantInit(variant);
  switch (duk_get_type(context, index)) {
    case DUK_TYPE_UNDEFINED:
    case DUK_TYPE_NONE:
      return true;
    case DUK_TYPE_NULL:
      variant->vt = VT_NULL;
      return true;
    case DUK_TYPE_BOOLEAN:
      variant->vt = VT_BOOL;
      variant->boolVal =
          duk_get_boolean(context, index) ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case DUK_TYPE_NUMBER:
      NumberToVariant(duk_get_number(context, index), variant);
      return true;
    case DUK_TYPE_STRING:
      return StringToVariant(context, index, variant, textUnits, failure);
    case DUK_TYPE_OBJECT: {
      IDispatch* dispatch = DispatchOfScriptValue(context, index);
      if (dispatch == nullptr) break;
      dispatch->AddRef();
      variant->vt = VT_DISPATCH;
      variant->pdispVal = dispatch;
      return true;
    }
    default:
      break;
  }
  return Fail(failure, DISP_E_TYPEMISMATCH,
              "only numbers, strings, booleans, null, undefined and "
              "automation objects can be passed to an automation object");
}

bool PushVariant(duk_context* context, const VARIANT& variant,
                 BridgeFailure* failure) {
  switch (variant.vt) {
    case VT_EMPTY:
      duk_push_undefined(context);
      return true;
    case VT_NULL:
      duk_push_null(context);
      return true;
    case VT_I2:
      duk_push_int(context, variant.iVal);
      return true;
    case VT_I4:
      duk_push_int(context, variant.lVal);
      return true;
    case VT_R4:
      duk_push_number(context, variant.fltVal);
      return true;
    case VT_R8:
      duk_push_number(context, variant.dblVal);
      return true;
    case VT_BOOL:
      duk_push_boolean(context, variant.boolVal != VARIANT_FALSE);
      return true;
    case VT_BSTR:
      return PushBstr(context, variant.bstrVal, failure);
    case VT_DISPATCH:
      if (variant.pdispVal == nullptr) {
        duk_push_null(context);
      } else {
        PushDispatchObject(context, variant.pdispVal);
      }
      return true;
    default:
      return PushConvertedToText(context, variant, failure);
  }
}

}  // namespace qxhost
