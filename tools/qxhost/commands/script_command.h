// "script [-u] [-D NAME=VALUE]... SCRIPT_FILE": runs a registry script file
// through the product's registrar, in register mode or, with -u, unregister
// mode, against the host's registry.
#pragma once
#include <string>
#include <vector>

namespace qxhost {

struct ScriptRequest {
  bool unregister = false;
  std::vector<std::u16string> names;  // -D pairs in the order given
  std::vector<std::u16string> values;
  std::string path;
  std::string text;  // the file's bytes, read while parsing
  // Why the file could not be read; a failure, not a usage error.
  std::string readError;
};

// Checks the words and reads the script file, before anything else runs, so
// that a usage error (bad option, unreadable file) touches no registry.
bool ParseScriptArguments(const std::vector<std::string>& words,
                          ScriptRequest* request, std::string* error);

// Runs the script against the loaded store; returns the exit code: 0 when
// the run's status is S_OK, else 1. The status is the last line of stdout,
// as 0x%08X.
int RunScriptCommand(const ScriptRequest& request);

}  // namespace qxhost
