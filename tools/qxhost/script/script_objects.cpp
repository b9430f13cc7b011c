// ActiveXObject and object creation. A ProgID goes through CLSIDFromProgID
// and a "clsid:" name through CLSIDFromString, both in the registry this
// host run uses.
#include "tools/qxhost/script/script_objects.h"

#include <strings.h>

#include <algorithm>

#include "tools/qxhost/script/dispatch_bridge.h"
#include "tools/qxhost/script/object_safety.h"
#include "tools/qxhost/script/script_session.h"
#include "tools/qxhost/script/variant_bridge.h"
#include "tools/qxhost/text/engine_text.h"
#include "tools/qxhost/text/status_text.h"

namespace qxhost {
namespace {

constexpr char kClassIdScheme[] = "clsid:";
constexpr size_t kClassIdSchemeLength = sizeof kClassIdScheme - 1;
// A ProgID has at most 39 characters; a longer name is no class string.
constexpr size_t kMaxClassNameLength = 256;

bool ClassIdOfName(const std::string& name, CLSID* clsid, HRESULT* hr) {
  // The registry takes a name up to its first NUL: "X\0anything" would
  // create X.
  if (name.size() > kMaxClassNameLength ||
      name.find('\0') != std::string::npos) {
    *hr = CO_E_CLASSSTRING;
    return false;
  }
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
    PushAutomationError(
        context, hr,
        "no class '" + QuotedEngineText(name) + "' (" + StatusText(hr) + ")");
    return false;
  }
  ComPtr<IDispatch> object;
  bool refused = false;
  hr = CreateScriptObject(clsid, ScriptSession::From(context)->untrusted(),
                          /*untrustedData=*/false, &object, &refused);
  if (FAILED(hr)) {
    std::string what = refused ? "not safe for scripting" : "cannot be created";
    PushAutomationError(context, hr,
                        "object '" + QuotedEngineText(name) + "': " + what +
                            " (" + StatusText(hr) + ")");
    return false;
  }
  PushDispatchObject(context, object.get(), &clsid);
  return true;
}

duk_ret_t ConstructActiveXObject(duk_context* context) {
  ThrowIfQuitting(context);
  ScriptSession::From(context)->CollectIfDue();
  if (!duk_is_constructor_call(context)) {
    duk_push_error_object_raw(context, DUK_ERR_TYPE_ERROR,
                              /*filename=*/nullptr, 0,
                              "ActiveXObject must be called with new");
    return duk_throw(context);
  }
  duk_size_t length = 0;
  const char* name = duk_to_lstring(context, 0, &length);
  // Past the limit the name is refused anyway, and a message quotes no more
  // than this: no need to copy all of it.
  size_t kept = std::min<size_t>(length, kMaxQuotedText + 1);
  if (!CreateNamed(context, std::string(name, kept))) return duk_throw(context);
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
  duk_push_c_function(context, HostFunction<ConstructActiveXObject>, 1);
  duk_put_global_string(context, "ActiveXObject");
}

}  // namespace qxhost
