// The script command. The registrar is product code, so the host links the
// product's static core for it and runs it in a module of its own (the
// registrar's variables live on the module heap), separate from any library
// the host loads.
#include "tools/qxhost/script_command.h"

#include <windows.h>

#include <cstdio>

#include "base/allocator.h"
#include "registrar/script_runner.h"
#include "tools/qxhost/host_output.h"
#include "tools/qxhost/input_file.h"

namespace qxhost {
namespace {

bool Utf8ToUtf16(const std::string& text, std::u16string* out) {
  if (text.empty()) {
    out->clear();
    return true;
  }
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                  static_cast<int>(text.size()), nullptr, 0);
  if (units <= 0) return false;
  out->resize(static_cast<size_t>(units));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), &(*out)[0],
                             units) == units;
}

bool AddDefinition(const std::string& pair, ScriptRequest* request,
                   std::string* error) {
  size_t equals = pair.find('=');
  if (equals == std::string::npos || equals == 0) {
    *error = "-D needs NAME=VALUE, got '" + pair + "'";
    return false;
  }
  std::u16string name, value;
  if (!Utf8ToUtf16(pair.substr(0, equals), &name) ||
      !Utf8ToUtf16(pair.substr(equals + 1), &value)) {
    *error = "-D " + pair + " is not valid UTF-8";
    return false;
  }
  request->names.push_back(name);
  request->values.push_back(value);
  return true;
}

}  // namespace

bool ParseScriptArguments(const std::vector<std::string>& words,
                          ScriptRequest* request, std::string* error) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "-u") {
      request->unregister = true;
    } else if (word == "-D") {
      if (i + 1 == words.size()) {
        *error = "-D needs NAME=VALUE";
        return false;
      }
      if (!AddDefinition(words[++i], request, error)) return false;
    } else if (word.size() > 2 && word.compare(0, 2, "-D") == 0) {
      if (!AddDefinition(word.substr(2), request, error)) return false;
    } else if (!word.empty() && word[0] == '-' && word != "-") {
      *error = "script: unknown option " + word;
      return false;
    } else if (request->path.empty()) {
      request->path = word;
    } else {
      *error = "script takes one SCRIPT_FILE";
      return false;
    }
  }
  if (request->path.empty()) {
    *error = "usage: script [-u] [-D NAME=VALUE]... SCRIPT_FILE";
    return false;
  }
  // The script's bytes as they are, in the ANSI code page; the registrar
  // takes them zero-terminated, so the text ends at its first zero byte.
  ReadInputFile(request->path, &request->text, &request->readError);
  return true;
}

int RunScriptCommand(const ScriptRequest& request) {
  std::vector<LPCOLESTR> names, values;
  for (size_t i = 0; i < request.names.size(); ++i) {
    names.push_back(reinterpret_cast<LPCOLESTR>(request.names[i].c_str()));
    values.push_back(reinterpret_cast<LPCOLESTR>(request.values[i].c_str()));
  }

  HRESULT status = RunScriptWithVariables(
      kProcessHeapAllocator, request.text.c_str(), names.data(), values.data(),
      static_cast<int>(names.size()),
      /*doRegister=*/request.unregister ? FALSE : TRUE);

  std::printf("0x%08X\n", static_cast<unsigned>(status));
  return status == S_OK ? kExitSuccess : kExitFailure;
}

}  // namespace qxhost
