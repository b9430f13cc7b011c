// Creating automation objects for script: by ProgID or "clsid:{...}" for
// new ActiveXObject, by class id for a page's <object>. An untrusted
// script only gets objects that pass the safety check.
#pragma once
#include <duktape.h>
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include <string>

#include "base/holders.h"

namespace qxhost {

// "clsid:{XXXXXXXX-...}" (braces optional, "clsid:" in any case) to a class
// id; false for any other text.
bool ParseClassIdUrl(const std::string& text, CLSID* clsid);

// CoCreateInstance for IDispatch, in process; then, for untrusted script,
// the safety check; *refused tells a failed check from a failed creation.
HRESULT CreateScriptObject(REFCLSID clsid, bool untrusted, bool untrustedData,
                           ComPtr<IDispatch>* object, bool* refused);

// Defines the global ActiveXObject constructor.
void DefineActiveXObject(duk_context* context);

}  // namespace qxhost
