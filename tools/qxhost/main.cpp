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

#include "base/result_macros.h"
#include "tools/qxhost/commands/command_table.h"
#include "tools/qxhost/commands/options.h"
#include "tools/qxhost/system/host_output.h"
#include "tools/qxhost/system/registry_session.h"

namespace {

using namespace qxhost;

// --verbose: each failure as it leaves a function of the host's own code
// (the registrar it runs scripts with among it), innermost first.
void PrintFailure(const char* file, int line, const char* expression,
                  HRESULT hr) {
  std::fprintf(stderr, "%s:%d: 0x%08X from %s\n", file, line,
               static_cast<unsigned>(hr), expression);
}

}  // namespace

int main(int argc, char** argv) {
  // Progress lines reach a pipe even if the library brings the process down.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  HostOptions options;
  Request request;
  std::string error;
  if (!ParseHostOptions(argc, argv, &options, &error)) return UsageError(error);
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return kExitSuccess;
  }
  if (options.verbose) qx::SetFailureHook(PrintFailure);
  if (!qxplatform::SetAnsiCodePage(options.codePage))
    return UsageError("unsupported code page " +
                      std::to_string(options.codePage) + " (1252 or 932)");
  const Command* command = FindCommand(options.command);
  if (!command->parse(options.arguments, &request, &error))
    return UsageError(error);
  // An input that cannot be read is a failure, not a usage error, and is
  // reported before the registry is opened.
  const std::string* readError =
      command->readError != nullptr ? command->readError(request) : nullptr;
  if (readError != nullptr && !readError->empty()) return Failure(*readError);

  if (options.system.setVersion) {
    qxplatform::SetVersion(options.system.platformId, options.system.major,
                           options.system.minor);
  }
  if (options.system.processors != 0) {
    qxplatform::SetProcessorCount(options.system.processors);
  }
  if (options.standardUser) qxplatform::SetStandardUser(true);

  // A command that only reads makes no database where there is none.
  const bool readOnly =
      command->readsOnly != nullptr && command->readsOnly(request);
  if (!OpenRegistrySession(options.registryPath, /*create=*/!readOnly, &error))
    return Failure(error);

  return command->run(request);
}
