// Page objects and script blocks. An object that cannot be created or is
// not safe for scripting leaves its global null, so the page sees it
// missing, as it would in a browser that blocked it.
#include "tools/qxhost/page_runner.h"

#include <strings.h>

#include <cstdio>

#include "tools/qxhost/dispatch_bridge.h"
#include "tools/qxhost/script_globals.h"
#include "tools/qxhost/script_objects.h"
#include "tools/qxhost/variant_bridge.h"

namespace qxhost {
namespace {

const char* const kScriptTypes[] = {"text/javascript",
                                    "application/javascript",
                                    "text/jscript",
                                    "javascript",
                                    "jscript",
                                    "text/ecmascript",
                                    "application/ecmascript"};

bool IsJavaScript(const std::string& type) {
  if (type.empty()) return true;
  std::string base = type.substr(0, type.find(';'));
  for (const char* known : kScriptTypes) {
    if (strcasecmp(base.c_str(), known) == 0) return true;
  }
  return false;
}

void Report(const std::string& fileName, int line, const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s:%d: %s\n", fileName.c_str(), line, text.c_str());
}

// global[id] = the value on top, which is consumed. Some globals (NaN,
// undefined) are read-only: such an id is reported, not fatal.
duk_ret_t PutGlobal(duk_context* context, void* udata) {
  const std::string& id = *static_cast<const std::string*>(udata);
  duk_push_global_object(context);
  duk_insert(context, -2);
  duk_put_prop_lstring(context, -2, id.data(), id.size());
  return 0;
}

bool SetGlobal(duk_context* context, const std::string& id) {
  bool stored = duk_safe_call(context, PutGlobal, const_cast<std::string*>(&id),
                              1, 1) == DUK_EXEC_SUCCESS;
  duk_pop(context);
  return stored;
}

void BindObject(ScriptSession* session, const std::string& fileName,
                const PageObject& object) {
  duk_context* context = session->context();
  if (object.id.empty()) {
    Report(fileName, object.line, "object without id: not created");
    return;
  }
  // Until it is known to be usable, the page sees it missing.
  duk_push_null(context);
  if (!SetGlobal(context, object.id)) {
    Report(fileName, object.line,
           "object '" + object.id + "': the id names a read-only global");
    return;
  }
  const std::string name = "object '" + object.id + "'";
  CLSID clsid = {};
  if (!ParseClassIdUrl(object.classId, &clsid)) {
    Report(fileName, object.line,
           name + ": bad classid '" + object.classId +
               "' (expected clsid:XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX)");
    return;
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
    return;
  }
  PushDispatchObject(context, dispatch.get());
  SetGlobal(context, object.id);
}

}  // namespace

int RunPage(ScriptSession* session, const std::string& fileName,
            const PageDocument& page) {
  DefinePageGlobals(session->context());
  DefineActiveXObject(session->context());
  if (page.parseErrors > 0) {
    std::fprintf(stderr,
                 "%s: malformed HTML (%d parse errors), read as a browser "
                 "reads it\n",
                 fileName.c_str(), page.parseErrors);
  }
  for (const PageObject& object : page.objects)
    BindObject(session, fileName, object);

  bool allRan = true;
  for (const PageScript& script : page.scripts) {
    if (!script.source.empty()) {
      // A page names other files only to a browser that fetches them; this
      // host reads no file the page points at.
      Report(fileName, script.line,
             "script src=" + script.source +
                 " not loaded: external scripts "
                 "are not supported");
      allRan = false;
      continue;
    }
    if (!IsJavaScript(script.type)) {
      Report(fileName, script.line,
             "script of type '" + script.type + "' skipped");
      continue;
    }
    if (session->Run(fileName, script.text, script.line) !=
        RunOutcome::kCompleted)
      allRan = false;
  }
  return allRan ? 0 : 1;
}

}  // namespace qxhost
