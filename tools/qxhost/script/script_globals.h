// What script sees besides the language: WScript for a script file,
// window, alert and document.write for a page.
#pragma once
#include <duktape.h>

#include <string>
#include <vector>

namespace qxhost {

// WScript.Echo, WScript.Quit and WScript.Arguments (an array with
// .Item(i), .Count() and .length).
void DefineWScript(duk_context* context, const std::string& scriptName,
                   const std::vector<std::string>& arguments);

// window (the global object), alert(text) and document.write(text).
void DefinePageGlobals(duk_context* context);

}  // namespace qxhost
