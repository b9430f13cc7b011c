// Having an in-process server register (or unregister) itself: load it,
// find DllRegisterServer or DllUnregisterServer, call it with COM
// initialised. The regsvr32 command and a page's install share it.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace qxhost {

enum class RegistrationStep {
  kNotLoaded,  // the library could not be loaded
  kNoExport,   // it lacks the function
  kCalled,     // the function ran; its status is in *hr
};

// *hr is the call's status, or the load or lookup failure as an HRESULT.
// beforeCall, when set, runs once the function is found, just before it.
RegistrationStep CallServerRegistration(
    const std::string& ansiLibrary, bool unregister, HRESULT* hr,
    const std::function<void()>& beforeCall = nullptr);

// "DllRegisterServer" or "DllUnregisterServer".
const char* RegistrationExportName(bool unregister);

}  // namespace qxhost
