// Page objects and script blocks. An object that cannot be created or is
// not safe for scripting leaves its global null, so the page sees it
// missing, as it would in a browser that blocked it.
#include "tools/qxhost/page/page_runner.h"

#include <cstdio>
#include <vector>

#include "tools/qxhost/script/dispatch_bridge.h"
#include "tools/qxhost/script/script_globals.h"
#include "tools/qxhost/script/script_objects.h"
#include "tools/qxhost/script/variant_bridge.h"
#include "tools/qxhost/text/engine_text.h"
#include "tools/qxhost/text/status_text.h"
#include "tools/qxhost/text/ascii_text.h"

namespace qxhost {
namespace {

// The JavaScript MIME types a browser runs a classic script for.
const char* const kScriptTypes[] = {"application/ecmascript",
                                    "application/javascript",
                                    "application/x-ecmascript",
                                    "application/x-javascript",
                                    "text/ecmascript",
                                    "text/javascript",
                                    "text/javascript1.0",
                                    "text/javascript1.1",
                                    "text/javascript1.2",
                                    "text/javascript1.3",
                                    "text/javascript1.4",
                                    "text/javascript1.5",
                                    "text/jscript",
                                    "text/livescript",
                                    "text/x-ecmascript",
                                    "text/x-javascript"};

// The script's type as a browser takes it: the type attribute trimmed of
// spaces; without one, "text/" and the language attribute (language=
// "vbscript" is VBScript); without either, JavaScript, written "".
std::string ScriptTypeOf(const PageScript& script) {
  if (script.hasType) return Trimmed(script.type, kAsciiWhitespace);
  if (!script.language.empty()) return "text/" + script.language;
  return std::string();
}

bool IsJavaScript(const std::string& type) {
  if (type.empty()) return true;
  std::string base = Trimmed(type.substr(0, type.find(';')), kAsciiWhitespace);
  for (const char* known : kScriptTypes) {
    if (EqualsIgnoringAsciiCase(base, known)) return true;
  }
  return false;
}

// A block with for= and event= is an event handler; a browser runs it only
// as the window's onload, and then at once.
bool IsEventHandler(const PageScript& script) {
  if (!script.hasForEvent) return false;
  std::string event = Trimmed(script.event, kAsciiWhitespace);
  return !EqualsIgnoringAsciiCase(Trimmed(script.forName, kAsciiWhitespace),
                                  "window") ||
         (!EqualsIgnoringAsciiCase(event, "onload") &&
          !EqualsIgnoringAsciiCase(event, "onload()"));
}

// Page text a message quotes (an id, a type) is cut by QuotedEngineText
// as script text is, and the line's control characters are escaped.
void Report(const std::string& fileName, int line, const std::string& text) {
  ReportLine(fileName + ":" + std::to_string(line) + ": " + text);
}

// Defines global[id] as the value on top, which is consumed: as an own data
// property, so that an id such as "__proto__" names a global like any
// other instead of calling a setter. Some globals (NaN, undefined) cannot
// be redefined: such an id is reported, not fatal.
duk_ret_t PutGlobal(duk_context* context, void* udata) {
  const std::string& id = *static_cast<const std::string*>(udata);
  duk_push_global_object(context);
  duk_insert(context, -2);
  duk_push_lstring(context, id.data(), id.size());
  duk_insert(context, -2);
  duk_def_prop(context, -3,
               DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE |
                   DUK_DEFPROP_SET_ENUMERABLE | DUK_DEFPROP_SET_CONFIGURABLE);
  return 0;
}

bool SetGlobal(duk_context* context, const std::string& id) {
  bool stored = duk_safe_call(context, PutGlobal, const_cast<std::string*>(&id),
                              1, 1) == DUK_EXEC_SUCCESS;
  duk_pop(context);
  return stored;
}

duk_ret_t PushHasOwnGlobal(duk_context* context, void* udata) {
  const std::string& id = *static_cast<const std::string*>(udata);
  duk_push_global_object(context);
  duk_push_lstring(context, id.data(), id.size());
  duk_get_prop_desc(context, -2, /*flags=*/0);
  duk_push_boolean(context, !duk_is_undefined(context, -1));
  return 1;
}

// Whether the global object has a property of this name of its own: one
// of the language's or the page's globals, or an earlier object's id.
bool HasOwnGlobal(duk_context* context, const std::string& id) {
  bool has =
      duk_safe_call(context, PushHasOwnGlobal, const_cast<std::string*>(&id), 0,
                    1) != DUK_EXEC_SUCCESS ||
      duk_get_boolean(context, -1);
  duk_pop(context);
  return has;
}

enum class Binding {
  kCreated,     // created, whether then found safe or not
  kNotCreated,  // its fallback content is used instead
  kFallback,    // inside an object that was created: inert
};

Binding BindObject(ScriptSession* session, const std::string& fileName,
                   const PageObject& object, const InstallSettings& install) {
  duk_context* context = session->context();
  if (object.id.empty()) {
    Report(fileName, object.line, "object without id: not created");
    return Binding::kNotCreated;
  }
  const std::string name = "object '" + QuotedEngineText(object.id) + "'";
  // As in a browser, an element's id does not hide a global of that name
  // (document, window, alert, ActiveXObject, Object, ...), nor an earlier
  // object of the same id.
  if (HasOwnGlobal(context, object.id)) {
    Report(fileName, object.line,
           name + ": the id names an existing global; not created");
    return Binding::kNotCreated;
  }
  // Until it is known to be usable, the page sees it missing.
  duk_push_null(context);
  if (!SetGlobal(context, object.id)) {
    Report(fileName, object.line, name + ": the id names a read-only global");
    return Binding::kNotCreated;
  }
  CLSID clsid = {};
  if (!ParseClassIdUrl(object.classId, &clsid)) {
    Report(fileName, object.line,
           name + ": bad classid '" + QuotedEngineText(object.classId) +
               "' (expected clsid:XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX)");
    return Binding::kNotCreated;
  }
  // As a browser's code download: a class that is missing, or older than
  // the page asks, is installed from the codebase first; a refused install
  // leaves the object not created, so its fallback content is used.
  std::string why;
  if (InstallIfNeeded(install, object.hasCodebase ? &object.codebase : nullptr,
                      clsid, &why) == InstallOutcome::kRefused) {
    Report(fileName, object.line, name + ": " + why);
    return Binding::kNotCreated;
  }
  ComPtr<IDispatch> dispatch;
  bool refused = false;
  HRESULT hr = CreateScriptObject(clsid, /*untrusted=*/true, object.hasParams,
                                  &dispatch, &refused);
  if (FAILED(hr)) {
    Report(
        fileName, object.line,
        name +
            (refused ? ": not safe for scripting (" : ": cannot be created (") +
            StatusText(hr) + ")");
    return refused ? Binding::kCreated : Binding::kNotCreated;
  }
  PushDispatchObject(context, dispatch.get(), &clsid);
  SetGlobal(context, object.id);
  return Binding::kCreated;
}

}  // namespace

int RunPage(ScriptSession* session, const std::string& fileName,
            const PageDocument& page, const InstallSettings& install) {
  DefinePageGlobals(session->context());
  DefineActiveXObject(session->context());
  if (page.parseErrors > 0) {
    ReportLine(fileName + ": malformed HTML (" +
               std::to_string(page.parseErrors) +
               " parse errors), read as a browser reads it");
  }
  // An <object> inside another is its fallback content: a browser tries it
  // only when the outer one could not be created.
  std::vector<Binding> bindings;
  bindings.reserve(page.objects.size());
  for (const PageObject& object : page.objects) {
    if (object.fallbackOf >= 0 &&
        bindings[static_cast<size_t>(object.fallbackOf)] !=
            Binding::kNotCreated) {
      bindings.push_back(Binding::kFallback);
      continue;
    }
    bindings.push_back(BindObject(session, fileName, object, install));
  }

  bool allRan = true;
  for (const PageScript& script : page.scripts) {
    if (!script.source.empty()) {
      // A page names other files only to a browser that fetches them; this
      // host reads no file the page points at.
      Report(fileName, script.line,
             "script src=" + QuotedEngineText(script.source) +
                 " not loaded: external scripts "
                 "are not supported");
      allRan = false;
      continue;
    }
    std::string type = ScriptTypeOf(script);
    if (!IsJavaScript(type)) {
      Report(fileName, script.line,
             "script of type '" + QuotedEngineText(type) + "' skipped");
      continue;
    }
    if (IsEventHandler(script)) {
      Report(fileName, script.line,
             "script for='" + QuotedEngineText(script.forName) + "' event='" +
                 QuotedEngineText(script.event) +
                 "' skipped: event handlers are not run");
      continue;
    }
    if (session->Run(fileName, script.text, script.line) !=
        RunOutcome::kCompleted)
      allRan = false;
  }
  return allRan ? 0 : 1;
}

}  // namespace qxhost
