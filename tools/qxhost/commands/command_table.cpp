// The table of commands. Each entry's parse makes its own request in the
// variant, and its run and questions take that request back out.
#include "tools/qxhost/commands/command_table.h"

#include "tools/qxhost/system/host_output.h"

namespace qxhost {
namespace {

using Words = std::vector<std::string>;

template <typename R, bool (*Parse)(const Words&, R*, std::string*)>
bool ParseAs(const Words& words, Request* request, std::string* error) {
  return Parse(words, &request->emplace<R>(), error);
}

// A run without its command's request (never so from main) is refused as
// a usage error rather than run on nothing.
template <typename R, int (*Run)(const R&)>
int RunAs(const Request& request) {
  const R* own = std::get_if<R>(&request);
  return own != nullptr ? Run(*own) : UsageError("no command was parsed");
}

template <typename R>
const std::string* ReadErrorOf(const Request& request) {
  const R* own = std::get_if<R>(&request);
  return own != nullptr ? &own->readError : nullptr;
}

const Command kCommands[] = {
    {"reg",
     "  reg import FILE.reg                  merge a .reg file into the "
     "registry\n"
     "  reg export [KEY]                     print the registry, or one key, "
     "as .reg text\n",
     ParseAs<RegRequest, ParseRegArguments>, RunAs<RegRequest, RunRegCommand>,
     ReadErrorOf<RegRequest>,
     [](const Request& request) {
       const RegRequest* reg = std::get_if<RegRequest>(&request);
       return reg != nullptr && !reg->import;
     }},
    {"call",
     "  call CLASS install                   create a registered class "
     "(ProgID or {CLSID})\n"
     "                                       and call install\n"
     "  call --library PATH {CLSID} install  the same from a library, "
     "unregistered\n",
     ParseAs<CallRequest, ParseCallArguments>,
     RunAs<CallRequest, RunCallCommand>, nullptr, nullptr},
    {"regsvr32",
     "  regsvr32 [--user] [-u] LIBRARY       have a library register itself "
     "(-u: unregister;\n"
     "                                       --user: for the current user "
     "only)\n",
     ParseAs<Regsvr32Request, ParseRegsvr32Arguments>,
     RunAs<Regsvr32Request, RunRegsvr32Command>, nullptr, nullptr},
    {"script",
     "  script [-u] [-D NAME=VALUE]... FILE  run a registry script (-u: "
     "unregister)\n",
     ParseAs<ScriptRequest, ParseScriptArguments>,
     RunAs<ScriptRequest, RunScriptCommand>, ReadErrorOf<ScriptRequest>,
     nullptr},
    {"typelib",
     "  typelib FILE                         print a type library (.tlb, "
     "library, FILE\\N)\n",
     ParseAs<TypelibRequest, ParseTypelibArguments>,
     RunAs<TypelibRequest, RunTypelibCommand>, nullptr,
     // The library is loaded without being registered.
     [](const Request&) { return true; }},
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
     ParseAs<RunRequest, ParseRunArguments>, RunAs<RunRequest, RunRunCommand>,
     ReadErrorOf<RunRequest>, nullptr},
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
