// The call command. Through the registry it works as a COM client does:
// CoInitialize, CLSIDFromProgID for a ProgID, CoCreateInstance for IDispatch,
// and CoFreeUnusedLibraries once everything is released. With --library it
// does the runtime's part itself: LoadLibrary, DllGetClassObject,
// IClassFactory::CreateInstance, and the library is unloaded if it agrees.
// Either way the object is reached through the class's own dual interface.
#include "tools/qxhost/commands/call_command.h"

#include <objbase.h>
#include <oaidl.h>
#include <qxplatform/controls.h>

#include <cstdio>

#include "base/holders.h"
#include "base/last_error.h"
#include "installer/iinstall_korvex.h"
#include "tools/qxhost/system/host_output.h"
#include "tools/qxhost/text/argument_text.h"
#include "tools/qxhost/text/clsid_text.h"

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

// The method call on a created object; the interface is released before
// this returns.
int CallInstall(IDispatch* dispatch, LONG* status) {
  ComPtr<IInstallKorvex> installer;
  HRESULT hr =
      dispatch->QueryInterface(IID_IInstallKorvex, installer.put_void());
  if (FAILED(hr)) return HresultError(hr, "QueryInterface IInstallKorvex");

  LONG result = 0;
  hr = installer->install(&result);
  if (FAILED(hr)) return HresultError(hr, "IInstallKorvex::install");
  std::printf("install: hr 0x%08X, status %ld\n", static_cast<unsigned>(hr),
              static_cast<long>(result));
  *status = result;
  return kExitSuccess;
}

int CreateFromLibrary(GetClassObjectFunction getClassObject,
                      const CallRequest& request, LONG* status) {
  const std::string& classText = request.classText;
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
  return CallInstall(dispatch.get(), status);
}

int CallThroughLibrary(const CallRequest& request, LONG* status) {
  UniqueLibrary library(LoadLibraryA(request.ansiLibrary.c_str()));
  if (!library)
    return HresultError(LastErrorStatus(), "LoadLibrary " + request.library +
                                               ": " +
                                               qxplatform::LastLoadFailure());
  std::printf("loaded %s\n", request.library.c_str());

  auto getClassObject =
      ExportOf<GetClassObjectFunction>(library.get(), kGetClassObjectExport);
  auto canUnloadNow =
      ExportOf<CanUnloadNowFunction>(library.get(), kCanUnloadNowExport);
  if (getClassObject == nullptr || canUnloadNow == nullptr) {
    HRESULT hr = LastErrorStatus();
    return HresultError(hr, request.library + " is not an in-process server");
  }

  int exitCode = CreateFromLibrary(getClassObject, request, status);

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
  return exitCode;
}

// The class id a ProgID names, through the registry. The ProgID is typed in
// the terminal's encoding; bytes that are not text there are read in the
// ANSI code page, as registry names given as bytes are.
HRESULT ResolveProgId(const std::string& progId, CLSID* clsid) {
  std::u16string wide;
  if (!ArgumentToWide(progId, &wide)) {
    int units = MultiByteToWideChar(CP_ACP, /*dwFlags=*/0, progId.c_str(), -1,
                                    /*lpWideCharStr=*/nullptr, 0);
    if (units <= 0) return CO_E_CLASSSTRING;
    wide.assign(static_cast<size_t>(units), u'\0');
    if (MultiByteToWideChar(CP_ACP, /*dwFlags=*/0, progId.c_str(), -1, &wide[0],
                            units) != units)
      return CO_E_CLASSSTRING;
    wide.pop_back();  // the terminating zero
  }
  return CLSIDFromProgID(wide.c_str(), clsid);
}

int CreateThroughRegistry(const CallRequest& request, LONG* status) {
  CLSID clsid = request.clsid;
  if (!request.progId.empty()) {
    HRESULT hr = ResolveProgId(request.progId, &clsid);
    if (FAILED(hr))
      return HresultError(hr, "CLSIDFromProgID " + request.progId);
    OLECHAR text[39];
    StringFromGUID2(clsid, text, 39);
    std::printf("%s: %s\n", request.progId.c_str(),
                std::string(text, text + 38).c_str());
  }
  ComPtr<IDispatch> dispatch;
  HRESULT hr =
      CoCreateInstance(clsid, /*pUnkOuter=*/nullptr, CLSCTX_INPROC_SERVER,
                       IID_IDispatch, dispatch.put_void());
  if (FAILED(hr))
    return HresultError(hr, "CoCreateInstance " + request.classText);
  std::printf("instance created: IDispatch\n");
  return CallInstall(dispatch.get(), status);
}

int CallThroughRegistry(const CallRequest& request, LONG* status) {
  HRESULT hr = CoInitialize(/*pvReserved=*/nullptr);
  if (FAILED(hr)) return HresultError(hr, "CoInitialize");
  int exitCode = CreateThroughRegistry(request, status);
  CoFreeUnusedLibraries();
  CoUninitialize();
  return exitCode;
}

}  // namespace

bool ParseCallArguments(const std::vector<std::string>& words,
                        CallRequest* request, std::string* error) {
  std::vector<std::string> positional;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--library") {
      if (i + 1 >= words.size() || words[i + 1].empty()) {
        *error = "option --library needs a path";
        return false;
      }
      request->library = words[++i];
      if (!ArgumentToAnsi(request->library, &request->ansiLibrary)) {
        *error = "call --library: " + NoAnsiForm(request->library);
        return false;
      }
    } else if (word.size() > 1 && word[0] == '-' && word[1] == '-') {
      *error = "unknown call option '" + word + "'";
      return false;
    } else {
      positional.push_back(word);
    }
  }
  if (positional.size() != 2) {
    *error = "call needs a class (ProgID or {CLSID}) and a method";
    return false;
  }
  const std::string& classWord = positional[0];
  // A ProgID is looked up in the registry, which --library goes without.
  bool asClassId =
      !classWord.empty() && (classWord[0] == '{' || !request->library.empty());
  if (asClassId && !ParseClsid(classWord, &request->clsid)) {
    *error = "'" + classWord +
             "' is not a class id of the form "
             "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    return false;
  }
  if (classWord.empty()) {
    *error = "call needs a class (ProgID or {CLSID})";
    return false;
  }
  if (!asClassId) request->progId = classWord;
  if (positional[1] != kInstallMethod) {
    *error = "unknown method '" + positional[1] + "' (only install)";
    return false;
  }
  request->classText = classWord;
  request->method = positional[1];
  return true;
}

int RunCallCommand(const CallRequest& request) {
  LONG status = 0;
  int exitCode = request.library.empty() ? CallThroughRegistry(request, &status)
                                         : CallThroughLibrary(request, &status);
  if (exitCode == kExitSuccess) std::printf("%ld\n", static_cast<long>(status));
  std::fflush(stdout);
  return exitCode;
}

}  // namespace qxhost
