// The call command: LoadLibrary, DllGetClassObject, IClassFactory::
// CreateInstance for IDispatch, QueryInterface for the class's own dual
// interface and a call through its vtable; then everything is released and
// the library is unloaded if it agrees to be.
#include "tools/qxhost/call_command.h"

#include <objbase.h>
#include <oaidl.h>

#include <cstdio>

#include "tools/qxhost/clsid_text.h"
#include "tools/qxhost/host_output.h"

namespace qxhost {

// The dual interface of InstallKorvex as its clients compile against it:
// install follows the three IUnknown and four IDispatch methods. Declared
// outside the anonymous namespace: an interface with internal linkage and no
// implementation here would let the compiler treat every call through it as
// a call of a pure virtual function.
struct IInstallKorvex : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE install(LONG* val) = 0;
};

// {D561B16B-0E95-460A-819D-EF05D1A29BC1}
constexpr IID kIidInstallKorvex = {
    0xD561B16B,
    0x0E95,
    0x460A,
    {0x81, 0x9D, 0xEF, 0x05, 0xD1, 0xA2, 0x9B, 0xC1}};

namespace {

// The objects come from another module, built without run-time type
// information; like any COM client the host knows them only by their
// vtables, so the sanitizer's dynamic type check does not apply to calls
// through them.
#define QXHOST_CALLS_FOREIGN_OBJECTS __attribute__((no_sanitize("vptr")))

constexpr char kInstallMethod[] = "install";
constexpr char kGetClassObjectExport[] = "DllGetClassObject";
constexpr char kCanUnloadNowExport[] = "DllCanUnloadNow";

typedef HRESULT(STDAPICALLTYPE* GetClassObjectFunction)(REFCLSID, REFIID,
                                                        LPVOID*);
typedef HRESULT(STDAPICALLTYPE* CanUnloadNowFunction)();

// Holds one interface pointer and releases it when it goes out of scope.
template <typename Interface>
class InterfaceRef {
 public:
  InterfaceRef() = default;
  InterfaceRef(const InterfaceRef&) = delete;
  InterfaceRef& operator=(const InterfaceRef&) = delete;
  QXHOST_CALLS_FOREIGN_OBJECTS ~InterfaceRef() {
    if (m_pointer != nullptr) m_pointer->Release();
  }
  void** Receive() { return reinterpret_cast<void**>(&m_pointer); }
  Interface* operator->() const { return m_pointer; }

 private:
  Interface* m_pointer = nullptr;
};

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
QXHOST_CALLS_FOREIGN_OBJECTS int CreateAndCall(
    GetClassObjectFunction getClassObject, const CallRequest& request,
    LONG* status) {
  const std::string& classText = request.clsidText;
  InterfaceRef<IClassFactory> factory;
  HRESULT hr =
      getClassObject(request.clsid, IID_IClassFactory, factory.Receive());
  if (FAILED(hr)) return HresultError(hr, "DllGetClassObject " + classText);
  std::printf("class object %s: IClassFactory\n", classText.c_str());

  InterfaceRef<IDispatch> dispatch;
  hr = factory->CreateInstance(/*pUnkOuter=*/nullptr, IID_IDispatch,
                               dispatch.Receive());
  if (FAILED(hr)) return HresultError(hr, "IClassFactory::CreateInstance");
  std::printf("instance created: IDispatch\n");

  InterfaceRef<IInstallKorvex> installer;
  hr = dispatch->QueryInterface(kIidInstallKorvex, installer.Receive());
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
  HMODULE library = LoadLibraryA(request.library.c_str());
  if (library == nullptr)
    return HresultError(LastErrorAsHresult(), "LoadLibrary " + request.library);
  std::printf("loaded %s\n", request.library.c_str());

  auto getClassObject =
      ExportOf<GetClassObjectFunction>(library, kGetClassObjectExport);
  auto canUnloadNow =
      ExportOf<CanUnloadNowFunction>(library, kCanUnloadNowExport);
  if (getClassObject == nullptr || canUnloadNow == nullptr) {
    HRESULT hr = LastErrorAsHresult();
    FreeLibrary(library);
    return HresultError(hr, request.library + " is not an in-process server");
  }

  LONG status = 0;
  int exitCode = CreateAndCall(getClassObject, request, &status);

  // As the COM runtime does: unload only a library that says it may go.
  HRESULT unload = canUnloadNow();
  if (unload == S_OK) {
    FreeLibrary(library);
    std::printf("DllCanUnloadNow: S_OK, library unloaded\n");
  } else {
    std::printf("DllCanUnloadNow: 0x%08X, library left loaded\n",
                static_cast<unsigned>(unload));
  }
  if (exitCode == kExitSuccess) std::printf("%ld\n", static_cast<long>(status));
  std::fflush(stdout);
  return exitCode;
}

}  // namespace qxhost
