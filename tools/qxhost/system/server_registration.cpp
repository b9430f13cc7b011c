// COM is initialised around the call because servers may use the runtime
// while they register (the system's regsvr32 does the same); inside a
// page's run it is already initialised and this only adds a count.
#include "tools/qxhost/system/server_registration.h"

#include <objbase.h>

#include "base/holders.h"
#include "base/last_error.h"

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
