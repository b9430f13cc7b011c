// qxhost: the command-line host for in-process servers on the native
// platform. It works on a registry database, imports and exports .reg text, and
// registers in-process servers and creates COM objects, from the registry or
// straight from a library, to call their methods, or from script.
//
// Order of work: the code page is chosen first, since the words of the
// command that name files or classes are converted to it as they are
// checked; then the whole command line is checked and the input file read,
// so a usage error or an unreadable input touches nothing; then the registry
// database is opened and the command runs, each registry call committing
// its own change.
#include <cstdio>

#include <qxplatform/controls.h>

#include "tools/qxhost/call_command.h"
#include "tools/qxhost/host_output.h"
#include "tools/qxhost/options.h"
#include "tools/qxhost/reg_commands.h"
#include "tools/qxhost/registry_session.h"
#include "tools/qxhost/regsvr32_command.h"
#include "tools/qxhost/run_command.h"
#include "tools/qxhost/script_command.h"
#include "tools/qxhost/typelib_command.h"

namespace {

using namespace qxhost;

struct Requests {
  RegRequest reg;
  CallRequest call;
  ScriptRequest script;
  Regsvr32Request regsvr32;
  TypelibRequest typelib;
  RunRequest run;
};

bool ParseCommand(const HostOptions& options, Requests* requests,
                  std::string* error) {
  if (options.command == "reg")
    return ParseRegArguments(options.arguments, &requests->reg, error);
  if (options.command == "call")
    return ParseCallArguments(options.arguments, &requests->call, error);
  if (options.command == "regsvr32")
    return ParseRegsvr32Arguments(options.arguments, &requests->regsvr32,
                                  error);
  if (options.command == "typelib")
    return ParseTypelibArguments(options.arguments, &requests->typelib, error);
  if (options.command == "run")
    return ParseRunArguments(options.arguments, &requests->run, error);
  return ParseScriptArguments(options.arguments, &requests->script, error);
}

// Why the command's input file could not be read, or empty: only the
// command that was parsed read a file.
const std::string& InputError(const Requests& requests) {
  if (!requests.reg.readError.empty()) return requests.reg.readError;
  if (!requests.run.readError.empty()) return requests.run.readError;
  return requests.script.readError;
}

int RunCommand(const HostOptions& options, const Requests& requests) {
  if (options.command == "reg") return RunRegCommand(requests.reg);
  if (options.command == "call") return RunCallCommand(requests.call);
  if (options.command == "regsvr32")
    return RunRegsvr32Command(requests.regsvr32);
  if (options.command == "typelib") return RunTypelibCommand(requests.typelib);
  if (options.command == "run") return RunRunCommand(requests.run);
  return RunScriptCommand(requests.script);
}

}  // namespace

int main(int argc, char** argv) {
  // Progress lines reach a pipe even if the library brings the process down.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  HostOptions options;
  Requests requests;
  std::string error;
  if (!ParseHostOptions(argc, argv, &options, &error)) return UsageError(error);
  if (options.help) {
    std::fputs(UsageText(), stdout);
    return kExitSuccess;
  }
  if (!qxplatform::SetAnsiCodePage(options.codePage))
    return UsageError("unsupported code page " +
                      std::to_string(options.codePage) + " (1252 or 932)");
  if (!ParseCommand(options, &requests, &error)) return UsageError(error);
  // An input that cannot be read is a failure, not a usage error, and is
  // reported before the registry is opened.
  if (!InputError(requests).empty()) return Failure(InputError(requests));

  if (options.system.setVersion) {
    qxplatform::SetVersion(options.system.platformId, options.system.major,
                           options.system.minor);
  }
  if (options.system.processors != 0) {
    qxplatform::SetProcessorCount(options.system.processors);
  }

  RegistrySession registry;
  // An export reads: it makes no database where there is none.
  const bool readOnly = options.command == "reg" && !requests.reg.import;
  if (!registry.Open(options.registryPath, /*create=*/!readOnly, &error))
    return Failure(error);

  return RunCommand(options, requests);
}
