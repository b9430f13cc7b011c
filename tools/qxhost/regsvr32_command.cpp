// The regsvr32 command. COM is initialised around the call because servers
// may use the runtime while they register (the system's regsvr32 does the
// same). The host keeps whatever the registry holds after the call, failed
// or not: undoing a failed registration is the server's business (this
// library undoes its own), and the real registry has no transaction to roll
// back either.
#include "tools/qxhost/regsvr32_command.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "base/holders.h"
#include "tools/qxhost/argument_text.h"
#include "tools/qxhost/host_output.h"

namespace qxhost {
namespace {

constexpr char kRegisterExport[] = "DllRegisterServer";
constexpr char kUnregisterExport[] = "DllUnregisterServer";

typedef HRESULT(STDAPICALLTYPE* RegistrationFunction)();

HRESULT LastErrorAsHresult() {
  DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

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
    *error = "usage: regsvr32 [-u] LIBRARY";
    return false;
  }
  if (!ArgumentToAnsi(request->library, &request->ansiLibrary)) {
    *error = "regsvr32: " + NoAnsiForm(request->library);
    return false;
  }
  return true;
}

int RunRegsvr32Command(const Regsvr32Request& request) {
  const char* exportName =
      request.unregister ? kUnregisterExport : kRegisterExport;
  UniqueLibrary library(LoadLibraryA(request.ansiLibrary.c_str()));
  if (!library)
    return UnusableLibrary(LastErrorAsHresult(),
                           "LoadLibrary " + request.library);
  auto registration = reinterpret_cast<RegistrationFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(library.get(), exportName)));
  if (registration == nullptr)
    return UnusableLibrary(LastErrorAsHresult(),
                           request.library + " has no " + exportName);

  std::printf("%s of %s\n", exportName, request.library.c_str());
  HRESULT init = CoInitialize(/*pvReserved=*/nullptr);
  HRESULT status = registration();
  if (SUCCEEDED(init)) CoUninitialize();
  std::printf("0x%08X\n", static_cast<unsigned>(status));
  std::fflush(stdout);
  return status == S_OK ? kExitSuccess : kExitFailure;
}

}  // namespace qxhost
