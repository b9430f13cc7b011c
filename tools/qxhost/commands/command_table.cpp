// The table of commands.
#include "tools/qxhost/commands/command_table.h"

namespace qxhost {
namespace {

using Words = std::vector<std::string>;

const Command kCommands[] = {
    {"reg",
     "  reg import FILE.reg                  merge a .reg file into the "
     "registry\n"
     "  reg export [KEY]                     print the registry, or one key, "
     "as .reg text\n",
     [](const Words& words, Requests* requests, std::string* error) {
       return ParseRegArguments(words, &requests->reg, error);
     },
     [](const Requests& requests) { return RunRegCommand(requests.reg); },
     [](const Requests& requests) -> const std::string& {
       return requests.reg.readError;
     },
     [](const Requests& requests) { return !requests.reg.import; }},
    {"call",
     "  call CLASS install                   create a registered class "
     "(ProgID or {CLSID})\n"
     "                                       and call install\n"
     "  call --library PATH {CLSID} install  the same from a library, "
     "unregistered\n",
     [](const Words& words, Requests* requests, std::string* error) {
       return ParseCallArguments(words, &requests->call, error);
     },
     [](const Requests& requests) { return RunCallCommand(requests.call); },
     nullptr, nullptr},
    {"regsvr32",
     "  regsvr32 [-u] LIBRARY                have a library register itself "
     "(-u: unregister)\n",
     [](const Words& words, Requests* requests, std::string* error) {
       return ParseRegsvr32Arguments(words, &requests->regsvr32, error);
     },
     [](const Requests& requests) {
       return RunRegsvr32Command(requests.regsvr32);
     },
     nullptr, nullptr},
    {"script",
     "  script [-u] [-D NAME=VALUE]... FILE  run a registry script (-u: "
     "unregister)\n",
     [](const Words& words, Requests* requests, std::string* error) {
       return ParseScriptArguments(words, &requests->script, error);
     },
     [](const Requests& requests) { return RunScriptCommand(requests.script); },
     [](const Requests& requests) -> const std::string& {
       return requests.script.readError;
     },
     nullptr},
    {"typelib",
     "  typelib FILE                         print a type library (.tlb, "
     "library, FILE\\N)\n",
     [](const Words& words, Requests* requests, std::string* error) {
       return ParseTypelibArguments(words, &requests->typelib, error);
     },
     [](const Requests& requests) {
       return RunTypelibCommand(requests.typelib);
     },
     nullptr, nullptr},
    {"run",
     "  run [--untrusted] [--timeout SECONDS] [--trust FILE.pem]... "
     "[--cache DIR]\n"
     "      FILE [ARGS...]                   run a .js script (trusted) or an "
     ".html page\n"
     "                                       (untrusted) with automation "
     "objects; a page's\n"
     "                                       codebase installs from a cabinet "
     "signed by a\n"
     "                                       --trust certificate into the "
     "cache (default\n"
     "                                       $XDG_CACHE_HOME/qxkorvex)\n",
     [](const Words& words, Requests* requests, std::string* error) {
       return ParseRunArguments(words, &requests->run, error);
     },
     [](const Requests& requests) { return RunRunCommand(requests.run); },
     [](const Requests& requests) -> const std::string& {
       return requests.run.readError;
     },
     nullptr},
};

}  // namespace

const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::string CommandUsage() {
  std::string usage;
  for (const Command& command : kCommands) usage += command.usage;
  return usage;
}

}  // namespace qxhost
