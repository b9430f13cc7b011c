// The regsvr32 command, on the registration call a page's install uses too
// (server_registration.h). The host keeps whatever the registry holds after the
// call, failed or not: undoing a failed registration is the server's business
// (this library undoes its own), and the real registry has no transaction to
// roll back either.
#include "tools/qxhost/commands/regsvr32_command.h"

#include <qxplatform/controls.h>

#include <cstdio>

#include "tools/qxhost/system/host_output.h"
#include "tools/qxhost/system/server_registration.h"
#include "tools/qxhost/system/user_classes_override.h"
#include "tools/qxhost/text/argument_text.h"
#include "tools/qxhost/text/status_text.h"

namespace qxhost {
namespace {

// A library that cannot serve the command is the caller's mistake, not a
// status of the server: "error: 0x%08X <what>" and the usage exit code.
int UnusableLibrary(HRESULT hr, const std::string& what) {
  HresultError(hr, what);
  return kExitUsage;
}

}  // namespace

bool ParseRegsvr32Arguments(const std::vector<std::string>& words,
                            Regsvr32Request* request, std::string* error) {
  for (const std::string& word : words) {
    if (word == "-u") {
      request->unregister = true;
    } else if (word == "--user") {
      request->perUser = true;
    } else if (!word.empty() && word[0] == '-') {
      *error = "regsvr32: unknown option '" + word + "'";
      return false;
    } else if (request->library.empty() && !word.empty()) {
      request->library = word;
    } else {
      *error = "regsvr32 takes one LIBRARY";
      return false;
    }
  }
  if (request->library.empty()) {
    *error = "usage: regsvr32 [--user] [-u] LIBRARY";
    return false;
  }
  if (!ArgumentToAnsi(request->library, &request->ansiLibrary)) {
    *error = "regsvr32: " + NoAnsiForm(request->library);
    return false;
  }
  return true;
}

int RunRegsvr32Command(const Regsvr32Request& request) {
  UserClassesOverride userClasses;
  if (request.perUser) {
    std::string where;
    const LSTATUS status = userClasses.Apply(&where);
    if (status != ERROR_SUCCESS) {
      HresultError(HRESULT_FROM_WIN32(status), "regsvr32 --user: " + where);
      return kExitFailure;
    }
  }
  const char* exportName = RegistrationExportName(request.unregister);
  HRESULT status = S_OK;
  RegistrationStep step = CallServerRegistration(
      request.ansiLibrary, request.unregister, &status,
      [&] { std::printf("%s of %s\n", exportName, request.library.c_str()); });
  if (step == RegistrationStep::kNotLoaded)
    return UnusableLibrary(status, "LoadLibrary " + request.library + ": " +
                                       qxplatform::LastLoadFailure());
  if (step == RegistrationStep::kNoExport)
    return UnusableLibrary(status, request.library + " has no " + exportName);
  std::printf("0x%08X\n", static_cast<unsigned>(status));
  std::fflush(stdout);
  if (const char* words = RegistryFailureWords(status))
    Failure(std::string(exportName) + " of " + request.library +
            " failed: " + words);
  return status == S_OK ? kExitSuccess : kExitFailure;
}

}  // namespace qxhost
