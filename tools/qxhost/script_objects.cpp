// ActiveXObject and object creation. A ProgID goes through CLSIDFromProgID
// and a "clsid:" name through CLSIDFromString, both in the registry this
// host run uses.
#include "tools/qxhost/script_objects.h"

#include <strings.h>

#include "tools/qxhost/dispatch_bridge.h"
#include "tools/qxhost/engine_text.h"
#include "tools/qxhost/object_safety.h"
#include "tools/qxhost/script_session.h"
#include "tools/qxhost/variant_bridge.h"

namespace qxhost {
namespace {

constexpr char kClassIdScheme[] = "clsid:";
constexpr size_t kClassIdSchemeLength = sizeof kClassIdScheme - 1;

bool ClassIdOfName(const std::string& name, CLSID* clsid, HRESULT* hr) {
  if (name.size() >= kClassIdSchemeLength &&
      strncasecmp(name.c_str(), kClassIdScheme, kClassIdSchemeLength) == 0) {
    *hr = ParseClassIdUrl(name, clsid) ? S_OK : CO_E_CLASSSTRING;
    return SUCCEEDED(*hr);
  }
  std::u16string wide = EngineTextToUtf16(name.data(), name.size());
  *hr = CLSIDFromProgID(wide.c_str(), clsid);
  return SUCCEEDED(*hr);
}

// Pushes the new object for name, or the error.
bool CreateNamed(duk_context* context, const std::string& name) {
  CLSID clsid = {};
  HRESULT hr = S_OK;
  if (!ClassIdOfName(name, &clsid, &hr)) {
    PushAutomationError(context, hr,
                        "no class '" + name + "' (" + StatusText(hr) + ")");
    return false;
  }
  ComPtr<IDispatch> object;
  bool refused = false;
  hr = CreateScriptObject(clsid, ScriptSession::From(context)->untrusted(),
                          /*untrustedData=*/false, &object, &refused);
  if (FAILED(hr)) {
    std::string what = refused ? "not safe for scripting" : "cannot be created";
    PushAutomationError(
        context, hr,
        "object '" + name + "': " + what + " (" + StatusText(hr) + ")");
    return false;
  }
  PushDispatchObject(context, object.get());
  return true;
}

duk_ret_t ConstructActiveXObject(duk_context* context) {
  ThrowIfQuitting(context);
  if (!duk_is_constructor_call(context)) {
    duk_push_error_object_raw(context, DUK_ERR_TYPE_ERROR,
                              /*filename=*/nullptr, 0,
                              "ActiveXObject must be called with new");
    return duk_throw(context);
  }
  duk_size_t length = 0;
  const char* name = duk_to_lstring(context, 0, &length);
  if (!CreateNamed(context, std::string(name, length)))
    return duk_throw(context);
  return 1;
}

}  // namespace

bool ParseClassIdUrl(const std::string& text, CLSID* clsid) {
  if (text.size() < kClassIdSchemeLength ||
      strncasecmp(text.c_str(), kClassIdScheme, kClassIdSchemeLength) != 0)
    return false;
  std::string id = text.substr(kClassIdSchemeLength);
  if (!id.empty() && id.front() != '{') id = "{" + id + "}";
  // Exactly "{8-4-4-4-12}" and nothing more.
  if (id.size() != 38) return false;
  std::u16string wide(id.begin(), id.end());
  return SUCCEEDED(CLSIDFromString(wide.c_str(), clsid));
}

HRESULT CreateScriptObject(REFCLSID clsid, bool untrusted, bool untrustedData,
                           ComPtr<IDispatch>* object, bool* refused) {
  *refused = false;
  HRESULT hr =
      CoCreateInstance(clsid, /*pUnkOuter=*/nullptr, CLSCTX_INPROC_SERVER,
                       IID_IDispatch, object->put_void());
  if (FAILED(hr)) return hr;
  if (!*object) return E_NOINTERFACE;
  if (!untrusted) return S_OK;
  hr = MakeSafeForScripting(object->get(), untrustedData);
  // An object that refused is released at once, as a browser drops it.
  if (FAILED(hr)) {
    *refused = true;
    object->reset();
  }
  return hr;
}

void DefineActiveXObject(duk_context* context) {
  duk_push_c_function(context, ConstructActiveXObject, 1);
  duk_put_global_string(context, "ActiveXObject");
}

}  // namespace qxhost
