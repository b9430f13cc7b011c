// "script [-u] [-D NAME=VALUE]... SCRIPT_FILE": runs a registry script file
// through the product's registrar, in register mode or, with -u, unregister
// mode, against the host's registry.
#pragma once
#include <string>
#include <vector>

namespace qxhost {

// Runs the command against the loaded store; returns the exit code: 0 when
// the run's status is S_OK, 1 for a failure status, 2 for usage errors (bad
// option, unreadable file). The status is the last line of stdout, 0x%08X.
int RunScriptCommand(const std::vector<std::string>& words);

}  // namespace qxhost
