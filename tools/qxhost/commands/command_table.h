// The host's commands in one table: each by its name, the usage lines
// --help prints for it, how it reads its words and how it runs. The option
// parser, the usage text and main all go by it, so a command is added in
// one place.
#pragma once
#include <string>
#include <variant>
#include <vector>

#include "tools/qxhost/commands/call_command.h"
#include "tools/qxhost/commands/reg_commands.h"
#include "tools/qxhost/commands/regsvr32_command.h"
#include "tools/qxhost/commands/run_command.h"
#include "tools/qxhost/commands/script_command.h"
#include "tools/qxhost/commands/typelib_command.h"

namespace qxhost {

// What the command line asked for: the request of the one command it names,
// made by that command's parse (empty until then).
using Request =
    std::variant<std::monostate, RegRequest, CallRequest, ScriptRequest,
                 Regsvr32Request, TypelibRequest, RunRequest>;

struct Command {
  const char* name;
  const char* usage;  // its lines of the usage text, each ending in "\n"
  // Makes the command's request from its words; false, with a one-line
  // reason, on a usage error.
  bool (*parse)(const std::vector<std::string>& words, Request* request,
                std::string* error);
  // Runs the request parse made; the exit code.
  int (*run)(const Request& request);
  // Why the command's input file could not be read, or empty; null for a
  // command that reads none before the registry is opened.
  const std::string* (*readError)(const Request& request);
  // Whether the run only reads the registry, so that none is made where
  // there is none; null for a command that may write.
  bool (*readsOnly)(const Request& request);
};

// The command called name, or null.
const Command* FindCommand(const std::string& name);

// Every command's usage lines, in the table's order.
std::string CommandUsage();

}  // namespace qxhost
