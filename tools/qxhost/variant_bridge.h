// Values between script and automation. None of these throw into the
// engine: a value that cannot cross comes back as a failure with its
// status and text, for the caller to throw once it holds nothing that
// needs releasing.
#pragma once
#include <duktape.h>
#include <windows.h>
#include <oaidl.h>

#include <string>

namespace qxhost {

struct BridgeFailure {
  HRESULT hr = S_OK;
  std::string message;  // engine text
};

// The script value at index as a VARIANT the caller clears: integral numbers
// within int32 as VT_I4, other numbers VT_R8, strings VT_BSTR, booleans
// VT_BOOL, null VT_NULL, undefined VT_EMPTY, automation objects VT_DISPATCH.
bool ScriptValueToVariant(duk_context* context, duk_idx_t index,
                          VARIANT* variant, BridgeFailure* failure);

// Pushes the script value of a result. Numbers, booleans, strings, empty,
// null and objects map directly; other types are converted to text by the
// automation runtime, or fail.
bool PushVariant(duk_context* context, const VARIANT& variant,
                 BridgeFailure* failure);

// "0x%08X", the text of a status that came without a description.
std::string StatusText(HRESULT hr);

}  // namespace qxhost
