// Speed of scripting the class: GetIDsOfNames("install") answered from the
// name cache, and install through IDispatch::Invoke against the same call
// straight through the vtable (the difference is what dispatch costs; both
// include the provider probe).
#include <benchmark/benchmark.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>

#include <qxplatform/controls.h>

#include "base/holders.h"
#include "installer/iinstall_korvex.h"
#include "module/exports.h"

namespace {

HINSTANCE BenchInstance() {
  return reinterpret_cast<HINSTANCE>(static_cast<UINT_PTR>(0x7A510000));
}

// An attached module, the provider present, the type library registered,
// and one instance.
class Scripted {
 public:
  Scripted() {
    qxplatform::ResetRegistry();
    std::string error;
    qxplatform::ImportRegistryText(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\"
        "Provider\\Selvane Korvex for RDKV CSP v1.0]\r\n"
        "\"Image Path\"=\"/proc/self/exe\"\r\n\"Type\"=dword:00000001\r\n",
        &error);
    const std::string path = QX_TYPELIB_DIR "/qxKorvex.tlb";
    const std::u16string wide(path.begin(), path.end());
    ComPtr<ITypeLib> lib;
    LoadTypeLibEx(wide.c_str(), REGKIND_REGISTER, lib.put());
    DllMain(BenchInstance(), DLL_PROCESS_ATTACH, nullptr);
    ComPtr<IClassFactory> factory;
    DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                      factory.put_void());
    factory->CreateInstance(/*pUnkOuter=*/nullptr, IID_IInstallKorvex,
                            m_object.put_void());
  }
  ~Scripted() {
    m_object.reset();
    DllMain(BenchInstance(), DLL_PROCESS_DETACH, nullptr);
  }
  IInstallKorvex* object() const { return m_object.get(); }

 private:
  ComPtr<IInstallKorvex> m_object;
};

void BM_GetIDsOfNamesCached(benchmark::State& state) {
  Scripted scripted;
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"install")};
  DISPID id = 0;
  scripted.object()->GetIDsOfNames(IID_NULL, names, 1, 0, &id);  // loads
  for (auto _ : state) {
    scripted.object()->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    benchmark::DoNotOptimize(id);
  }
}
BENCHMARK(BM_GetIDsOfNamesCached);

void BM_InstallThroughInvoke(benchmark::State& state) {
  Scripted scripted;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  for (auto _ : state) {
    VARIANT result;
    VariantInit(&result);
    scripted.object()->Invoke(kDispidInstall, IID_NULL, 0,
                              DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                              &result, nullptr, nullptr);
    benchmark::DoNotOptimize(result.lVal);
  }
}
BENCHMARK(BM_InstallThroughInvoke);

void BM_InstallThroughVtable(benchmark::State& state) {
  Scripted scripted;
  for (auto _ : state) {
    LONG status = -100;
    scripted.object()->install(&status);
    benchmark::DoNotOptimize(status);
  }
}
BENCHMARK(BM_InstallThroughVtable);

}  // namespace

BENCHMARK_MAIN();
