// Values between script and automation. None of these throw into the
// engine: a value that cannot cross comes back as a failure with its
// status and text, for the caller to throw once it holds nothing that
// needs releasing.
#pragma once
#include <duktape.h>
#include <windows.h>
#include <oaidl.h>

#include <cstddef>
#include <string>

namespace qxhost {

// What the arguments of one call may hold as text, in UTF-16 units (64 MiB
// of BSTRs): the host's copies of script strings stay bounded as the
// engine's heap is, however often a script passes the same string.
constexpr size_t kMaxCallTextUnits = size_t{32} << 20;

struct BridgeFailure {
  HRESULT hr = S_OK;
  std::string message;  // engine text
};

// The script value at index as a VARIANT the caller clears: integral numbers
// within int32 as VT_I4, other numbers VT_R8, strings VT_BSTR, booleans
// VT_BOOL, null VT_NULL, undefined VT_EMPTY, automation objects VT_DISPATCH.
// A string takes its UTF-16 length from *textUnits, the text the caller's
// call may still pass; one longer than that fails.
bool ScriptValueToVariant(duk_context* context, duk_idx_t index,
                          VARIANT* variant, size_t* textUnits,
                          BridgeFailure* failure);

// Pushes the script value of a result. Numbers, booleans, strings, empty,
// null and objects map directly; other types are converted to text by the
// automation runtime, or fail.
bool PushVariant(duk_context* context, const VARIANT& variant,
                 BridgeFailure* failure);

}  // namespace qxhost
