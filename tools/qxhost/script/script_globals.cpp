// Output from script goes to stdout one line per call, in UTF-8, streamed:
// a line as long as the engine's heap allows costs the host no more memory
// than a short one.
#include "tools/qxhost/script/script_globals.h"

#include <cmath>
#include <cstdio>

#include "tools/qxhost/script/script_session.h"
#include "tools/qxhost/text/engine_text.h"

namespace qxhost {
namespace {

void WriteLine(const char* text, size_t length) {
  WriteEngineTextAsUtf8(text, length, stdout);
  std::fputc('\n', stdout);
}

// An exit status has 8 bits. A code from 0 to 255 is kept; any other,
// negative, fractional or larger, becomes 255, so that a failure is never
// reported as success (Quit(256) would otherwise exit 0).
int ExitCodeOf(double code) {
  if (code == 0) return 0;
  if (std::isfinite(code) && code == std::trunc(code) && code > 0 &&
      code <= 255)
    return static_cast<int>(code);
  return 255;
}

// The arguments joined with spaces, as one line.
duk_ret_t Echo(duk_context* context) {
  ThrowIfQuitting(context);
  duk_idx_t count = duk_get_top(context);
  duk_push_string(context, " ");
  duk_insert(context, 0);
  duk_join(context, count);
  duk_size_t length = 0;
  const char* text = duk_get_lstring(context, -1, &length);
  WriteLine(text, length);
  return 0;
}

// Ends the run with the code; nothing the script catches runs on.
duk_ret_t Quit(duk_context* context) {
  ThrowIfQuitting(context);
  int code =
      duk_is_undefined(context, 0) ? 0 : ExitCodeOf(duk_to_number(context, 0));
  ScriptSession::From(context)->Quit(code);
  // Outside a run (a finalizer as the heap goes): unwind what can be.
  ThrowIfQuitting(context);
  return 0;
}

duk_ret_t ArgumentItem(duk_context* context) {
  duk_push_this(context);
  duk_dup(context, 0);
  duk_get_prop(context, -2);
  return 1;
}

duk_ret_t ArgumentCount(duk_context* context) {
  duk_push_this(context);
  duk_get_prop_string(context, -1, "length");
  return 1;
}

// One line per call: alert and document.write both print their text.
duk_ret_t WriteText(duk_context* context) {
  ThrowIfQuitting(context);
  duk_size_t length = 0;
  const char* text =
      duk_is_undefined(context, 0) ? "" : duk_to_lstring(context, 0, &length);
  WriteLine(text, length);
  return 0;
}

}  // namespace

void DefineWScript(duk_context* context, const std::string& scriptName,
                   const std::vector<std::string>& arguments) {
  duk_push_object(context);
  duk_push_c_function(context, HostFunction<Echo>, DUK_VARARGS);
  duk_put_prop_string(context, -2, "Echo");
  duk_push_c_function(context, HostFunction<Quit>, 1);
  duk_put_prop_string(context, -2, "Quit");
  duk_push_lstring(context, scriptName.data(), scriptName.size());
  duk_put_prop_string(context, -2, "ScriptName");

  duk_push_array(context);
  for (size_t i = 0; i < arguments.size(); ++i) {
    duk_push_lstring(context, arguments[i].data(), arguments[i].size());
    duk_put_prop_index(context, -2, static_cast<duk_uarridx_t>(i));
  }
  duk_push_c_function(context, HostFunction<ArgumentItem>, 1);
  duk_put_prop_string(context, -2, "Item");
  duk_push_c_function(context, HostFunction<ArgumentCount>, 0);
  duk_put_prop_string(context, -2, "Count");
  duk_put_prop_string(context, -2, "Arguments");
  duk_put_global_string(context, "WScript");
}

void DefinePageGlobals(duk_context* context) {
  duk_push_global_object(context);
  duk_push_global_object(context);
  duk_put_prop_string(context, -2, "window");
  duk_push_c_function(context, HostFunction<WriteText>, 1);
  duk_put_prop_string(context, -2, "alert");
  duk_push_object(context);
  duk_push_c_function(context, HostFunction<WriteText>, 1);
  duk_put_prop_string(context, -2, "write");
  duk_push_c_function(context, HostFunction<WriteText>, 1);
  duk_put_prop_string(context, -2, "writeln");
  duk_put_prop_string(context, -2, "document");
  duk_pop(context);
}

}  // namespace qxhost
