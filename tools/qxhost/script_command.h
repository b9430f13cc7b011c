// "script [-u] [-D NAME=VALUE]... SCRIPT_FILE": runs a registry script through
// the product's registrar in register (or, with -u, unregister) mode.
#pragma once
#include <string>
#include <vector>

namespace qxhost {

// Runs the command against the loaded store; returns the exit code.
//
// Hook: this host links only the platform, so the command reports that it is
// unavailable. Running scripts needs the registrar's static core
// (qxkorvex_core); the implementation replaces script_command.cpp and adds
// that library to qxhost's link in tools/CMakeLists.txt.
int RunScriptCommand(const std::vector<std::string>& words);

}  // namespace qxhost
