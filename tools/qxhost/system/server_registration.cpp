// COM is initialised around the call because servers may use the runtime
// while they register (the system's regsvr32 does the same); inside a
// page's run it is already initialised and this only adds a count.
// Registrations of one library file take turns between hosts: a server's
// script removes and rewrites its keys, and two at once would remove each
// other's half-written keys.
#include "tools/qxhost/system/server_registration.h"

#include <objbase.h>

#include "base/holders.h"
#include "base/last_error.h"
#include "tools/qxhost/system/file_lock.h"

namespace qxhost {
namespace {

typedef HRESULT(STDAPICALLTYPE* RegistrationFunction)();

}  // namespace

const char* RegistrationExportName(bool unregister) {
  return unregister ? "DllUnregisterServer" : "DllRegisterServer";
}

RegistrationStep CallServerRegistration(
    const std::string& ansiLibrary, bool unregister, HRESULT* hr,
    const std::function<void()>& beforeCall) {
  // The lock is on the file the name opens from here; a name the loader
  // finds on its search path instead, or cannot open, registers unlocked,
  // and the load reports a missing file.
  UniqueFd turn;
  std::string ignored;
  (void)LockFile(ansiLibrary, /*create=*/false, LockWait::kWait, &turn,
                 &ignored);
  UniqueLibrary library(LoadLibraryA(ansiLibrary.c_str()));
  if (!library) {
    *hr = LastErrorStatus();
    return RegistrationStep::kNotLoaded;
  }
  auto registration =
      reinterpret_cast<RegistrationFunction>(reinterpret_cast<void (*)()>(
          GetProcAddress(library.get(), RegistrationExportName(unregister))));
  if (registration == nullptr) {
    *hr = LastErrorStatus();
    return RegistrationStep::kNoExport;
  }
  if (beforeCall) beforeCall();
  HRESULT init = CoInitialize(/*pvReserved=*/nullptr);
  *hr = registration();
  if (SUCCEEDED(init)) CoUninitialize();
  return RegistrationStep::kCalled;
}

}  // namespace qxhost
