// The Windows DLL run by the platform's own loader, against the native
// library of the same sources in the same 32-bit process: loading and
// freeing it, a page's activation (class object, instance, install,
// release), and install called by name through the type information's
// Invoke. Arg 0 is the DLL, 1 the native library.
#include <benchmark/benchmark.h>
#include <windows.h>
#include <objbase.h>

#include <unistd.h>

#include <string>

#include <qxplatform/controls.h>

#include "installed_provider.h"

#include "installer/iinstall_korvex.h"

namespace {

typedef HRESULT(STDAPICALLTYPE* GetClassObjectFunction)(REFCLSID, REFIID,
                                                        LPVOID*);

const char* LibraryPath(const benchmark::State& state) {
  return state.range(0) == 0 ? QX_WIN32_DLL : QX_LIBRARY_PATH;
}

void Label(benchmark::State& state) {
  state.SetLabel(state.range(0) == 0 ? "qxKorvex.dll" : "libqxKorvex.so");
}

IClassFactory* ClassObject(HMODULE library) {
  auto getClassObject =
      reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void (*)()>(
          GetProcAddress(library, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  if (getClassObject == nullptr ||
      FAILED(getClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                            reinterpret_cast<void**>(&factory))))
    return nullptr;
  return factory;
}

void BM_LoadFree(benchmark::State& state) {
  Label(state);
  for (auto _ : state) {
    HMODULE library = LoadLibraryA(LibraryPath(state));
    if (library == nullptr) {
      state.SkipWithError("the library does not load");
      return;
    }
    FreeLibrary(library);
  }
}
BENCHMARK(BM_LoadFree)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_ActivateInstallRelease(benchmark::State& state) {
  Label(state);
  qxplatform::ResetRegistry();
  InstallProvider();
  HMODULE library = LoadLibraryA(LibraryPath(state));
  auto getClassObject =
      reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void (*)()>(
          GetProcAddress(library, "DllGetClassObject")));
  if (getClassObject == nullptr) {
    state.SkipWithError("the library does not load");
    return;
  }
  for (auto _ : state) {
    IClassFactory* factory = nullptr;
    getClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                   reinterpret_cast<void**>(&factory));
    IInstallKorvex* object = nullptr;
    factory->CreateInstance(nullptr, IID_IInstallKorvex,
                            reinterpret_cast<void**>(&object));
    LONG status = -100;
    object->install(&status);
    if (status != 0) state.SkipWithError("install did not find the provider");
    object->Release();
    factory->Release();
  }
  FreeLibrary(library);
}
BENCHMARK(BM_ActivateInstallRelease)->Arg(0)->Arg(1);

// install by name, as a script calls it: the DISPID is looked up once, each
// call goes through IDispatch::Invoke and the type information's Invoke.
void BM_InvokeInstall(benchmark::State& state) {
  Label(state);
  qxplatform::ResetRegistry();
  InstallProvider();
  HMODULE library = LoadLibraryA(LibraryPath(state));
  // The object reads its type information from the registered library.
  auto registerServer =
      reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void (*)()>(
          GetProcAddress(library, "DllRegisterServer")));
  if (registerServer == nullptr || FAILED(registerServer())) {
    state.SkipWithError("the library does not register");
    return;
  }
  IClassFactory* factory = ClassObject(library);
  IDispatch* object = nullptr;
  if (factory == nullptr ||
      FAILED(factory->CreateInstance(nullptr, IID_IDispatch,
                                     reinterpret_cast<void**>(&object)))) {
    state.SkipWithError("no object");
    return;
  }
  OLECHAR name[] = OLESTR("install");
  LPOLESTR names[] = {name};
  DISPID dispid = 0;
  object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  for (auto _ : state) {
    VARIANT result;
    VariantInit(&result);
    if (FAILED(object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT,
                              DISPATCH_METHOD, &none, &result, nullptr,
                              nullptr)) ||
        result.vt != VT_I4 || result.lVal != 0)
      state.SkipWithError("install through Invoke failed");
  }
  object->Release();
  factory->Release();
  FreeLibrary(library);
}
BENCHMARK(BM_InvokeInstall)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
