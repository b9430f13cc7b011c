// The call command: LoadLibrary, DllGetClassObject, IClassFactory::
// CreateInstance for IDispatch, QueryInterface for the class's own dual
// interface and a call through its vtable; then everything is released and
// the library is unloaded if it agrees to be.
#include "tools/qxhost/call_command.h"

#include <objbase.h>
#include <oaidl.h>

#include <cstdio>

#include "base/holders.h"
#include "installer/iinstall_korvex.h"
#include "tools/qxhost/clsid_text.h"
#include "tools/qxhost/host_output.h"

namespace qxhost {
namespace {

constexpr char kInstallMethod[] = "install";
constexpr char kGetClassObjectExport[] = "DllGetClassObject";
constexpr char kCanUnloadNowExport[] = "DllCanUnloadNow";

typedef HRESULT(STDAPICALLTYPE* GetClassObjectFunction)(REFCLSID, REFIID,
                                                        LPVOID*);
typedef HRESULT(STDAPICALLTYPE* CanUnloadNowFunction)();

template <typename Function>
Function ExportOf(HMODULE library, const char* name) {
  // Through the generic function pointer type, which converts to any other.
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

HRESULT LastErrorAsHresult() {
  DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// Creation and the call; every interface is released before this returns.
int CreateAndCall(GetClassObjectFunction getClassObject,
                  const CallRequest& request, LONG* status) {
  const std::string& classText = request.clsidText;
  ComPtr<IClassFactory> factory;
  HRESULT hr =
      getClassObject(request.clsid, IID_IClassFactory, factory.put_void());
  if (FAILED(hr)) return HresultError(hr, "DllGetClassObject " + classText);
  std::printf("class object %s: IClassFactory\n", classText.c_str());

  ComPtr<IDispatch> dispatch;
  hr = factory->CreateInstance(/*pUnkOuter=*/nullptr, IID_IDispatch,
                               dispatch.put_void());
  if (FAILED(hr)) return HresultError(hr, "IClassFactory::CreateInstance");
  std::printf("instance created: IDispatch\n");

  ComPtr<IInstallKorvex> installer;
  hr = dispatch->QueryInterface(IID_IInstallKorvex, installer.put_void());
  if (FAILED(hr)) return HresultError(hr, "QueryInterface IInstallKorvex");

  LONG result = 0;
  hr = installer->install(&result);
  if (FAILED(hr)) return HresultError(hr, "IInstallKorvex::install");
  std::printf("install: hr 0x%08X, status %ld\n", static_cast<unsigned>(hr),
              static_cast<long>(result));
  *status = result;
  return kExitSuccess;
}

}  // namespace

bool ParseCallArguments(const std::vector<std::string>& words,
                        CallRequest* request, std::string* error) {
  std::vector<std::string> positional;
  bool haveLibrary = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--library") {
      if (i + 1 >= words.size() || words[i + 1].empty()) {
        *error = "option --library needs a path";
        return false;
      }
      request->library = words[++i];
      haveLibrary = true;
    } else if (word.size() > 1 && word[0] == '-' && word[1] == '-') {
      *error = "unknown call option '" + word + "'";
      return false;
    } else {
      positional.push_back(word);
    }
  }
  if (!haveLibrary) {
    *error = "call needs --library PATH";
    return false;
  }
  if (positional.size() != 2) {
    *error = "call needs a class id and a method";
    return false;
  }
  if (!ParseClsid(positional[0], &request->clsid)) {
    *error = "'" + positional[0] +
             "' is not a class id of the form "
             "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    return false;
  }
  if (positional[1] != kInstallMethod) {
    *error = "unknown method '" + positional[1] + "' (only install)";
    return false;
  }
  request->clsidText = positional[0];
  request->method = positional[1];
  return true;
}

int RunCallCommand(const CallRequest& request) {
  UniqueLibrary library(LoadLibraryA(request.library.c_str()));
  if (!library)
    return HresultError(LastErrorAsHresult(), "LoadLibrary " + request.library);
  std::printf("loaded %s\n", request.library.c_str());

  auto getClassObject =
      ExportOf<GetClassObjectFunction>(library.get(), kGetClassObjectExport);
  auto canUnloadNow =
      ExportOf<CanUnloadNowFunction>(library.get(), kCanUnloadNowExport);
  if (getClassObject == nullptr || canUnloadNow == nullptr) {
    HRESULT hr = LastErrorAsHresult();
    return HresultError(hr, request.library + " is not an in-process server");
  }

  LONG status = 0;
  int exitCode = CreateAndCall(getClassObject, request, &status);

  // As the COM runtime does: unload only a library that says it may go.
  HRESULT unload = canUnloadNow();
  if (unload == S_OK) {
    library.reset();
    std::printf("DllCanUnloadNow: S_OK, library unloaded\n");
  } else {
    library.release();
    std::printf("DllCanUnloadNow: 0x%08X, library left loaded\n",
                static_cast<unsigned>(unload));
  }
  if (exitCode == kExitSuccess) std::printf("%ld\n", static_cast<long>(status));
  std::fflush(stdout);
  return exitCode;
}

}  // namespace qxhost
