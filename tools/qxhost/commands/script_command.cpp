// The script command. The registrar is product code, so the host links the
// product's static core for it and runs it in a module of its own (the
// registrar's variables live on the module heap), separate from any library
// the host loads.
#include "tools/qxhost/commands/script_command.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "base/allocator.h"
#include "registrar/script_diagnostic.h"
#include "registrar/script_runner.h"
#include "tools/qxhost/system/host_output.h"
#include "tools/qxhost/system/input_file.h"
#include "tools/qxhost/text/engine_text.h"

namespace qxhost {
namespace {

// A diagnostic's token holds fewer characters than its bytes.
constexpr size_t kTokenCharacters = sizeof(ScriptDiagnostic::token);

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

// What the registrar wanted where a script stopped, in words.
const char* ExpectationText(ScriptExpectation expected) {
  switch (expected) {
    case ScriptExpectation::kNone:
      return nullptr;
    case ScriptExpectation::kMoreText:
      return "expected more of the script";
    case ScriptExpectation::kClosingQuote:
      return "expected the closing quote";
    case ScriptExpectation::kShorterToken:
      return "expected a token shorter than 4096 bytes";
    case ScriptExpectation::kRootKey:
      return "expected a root key (HKCR, HKCU, HKLM, HKU, HKPD, HKDD, HKCC or "
             "their HKEY_ names)";
    case ScriptExpectation::kOpenBrace:
      return "expected '{'";
    case ScriptExpectation::kEntry:
      return "expected a key name, ForceRemove, NoRemove, Delete, Val or '}'";
    case ScriptExpectation::kKeyName:
      return "expected a key name (not empty, no backslash, under 260 bytes)";
    case ScriptExpectation::kEquals:
      return "expected '=' after the value's name";
    case ScriptExpectation::kValueType:
      return "expected a value type: s, d or b";
    case ScriptExpectation::kEvenHexDigits:
      return "expected binary data as pairs of hex digits";
    case ScriptExpectation::kNoBlockAfterDelete:
      return "expected no block after a Delete entry";
    case ScriptExpectation::kShallowerNesting:
      return "expected blocks nested at most 512 deep";
    case ScriptExpectation::kVariableEnd:
      return "expected the '%' that ends a variable's name";
    case ScriptExpectation::kShorterVariable:
      return "expected a variable name of at most 31 bytes";
    case ScriptExpectation::kKnownVariable:
      return "expected a variable given with -D or defined by the host";
  }
  return nullptr;
}

// Text of the ANSI code page as UTF-8, for the terminal.
std::string AnsiToUtf8(const char* text) {
  std::u16string wide(kTokenCharacters, u'\0');
  int units = MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0],
                                  static_cast<int>(wide.size()));
  if (units <= 1) return std::string();
  wide.resize(static_cast<size_t>(units - 1));
  return Utf16ToUtf8(wide);
}

// "FILE:LINE:COLUMN: what was wanted, what was found" for a run that
// stopped inside the script's text.
void ReportWhere(const std::string& path, const ScriptDiagnostic& where) {
  if (where.line == 0) return;
  const std::string token = AnsiToUtf8(where.token);
  const std::string found =
      token.empty() ? "the end of the script" : "'" + token + "'";
  const char* expected = ExpectationText(where.expected);
  const std::string message = expected != nullptr
                                  ? std::string(expected) + ", found " + found
                                  : "stopped at " + found;
  std::fprintf(stderr, "%s:%u:%u: %s\n", path.c_str(), where.line, where.column,
               message.c_str());
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

  ScriptDiagnostic where;
  HRESULT status = RunScriptWithVariables(
      kProcessHeapAllocator, request.text.c_str(), names.data(), values.data(),
      static_cast<int>(names.size()),
      /*doRegister=*/request.unregister ? FALSE : TRUE, /*then=*/nullptr,
      &where);
  if (FAILED(status)) ReportWhere(request.path, where);

  std::printf("0x%08X\n", static_cast<unsigned>(status));
  return status == S_OK ? kExitSuccess : kExitFailure;
}

}  // namespace qxhost
