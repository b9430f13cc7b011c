// Speed of serving the class: a host's full activation (class object,
// instance, install, release) with the provider present, and the module
// heap's allocation on one heap against the extra heaps of an older
// multiprocessor system, from one and from two threads.
#include <benchmark/benchmark.h>
#include <windows.h>
#include <objbase.h>

#include <unistd.h>

#include <string>

#include <qxplatform/controls.h>

#include "installed_provider.h"

#include "installer/iinstall_korvex.h"
#include "module/exports.h"
#include "module/server_module.h"

namespace {

HINSTANCE BenchInstance() {
  return reinterpret_cast<HINSTANCE>(static_cast<UINT_PTR>(0x7A510000));
}


// DllGetClassObject, CreateInstance, install, Release: what a page does for
// each object it creates; the provider probe runs twice (construction and
// install).
void BM_ActivateInstallRelease(benchmark::State& state) {
  qxplatform::ResetRegistry();
  InstallProvider();
  DllMain(BenchInstance(), DLL_PROCESS_ATTACH, nullptr);
  for (auto _ : state) {
    IClassFactory* factory = nullptr;
    DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                      reinterpret_cast<void**>(&factory));
    IInstallKorvex* object = nullptr;
    factory->CreateInstance(/*pUnkOuter=*/nullptr, IID_IInstallKorvex,
                            reinterpret_cast<void**>(&object));
    LONG status = -100;
    object->install(&status);
    benchmark::DoNotOptimize(status);
    object->Release();
    factory->Release();
  }
  DllMain(BenchInstance(), DLL_PROCESS_DETACH, nullptr);
}
BENCHMARK(BM_ActivateInstallRelease);

// Allocate and free a small block; range(0) = 1: one main heap (NT 6.1),
// 0: four extra heaps (an older system with two processors).
void BM_ModuleAllocFree(benchmark::State& state) {
  if (state.thread_index() == 0) {
    if (state.range(0) == 1) {
      qxplatform::SetVersion(VER_PLATFORM_WIN32_NT, 6, 1);
    } else {
      qxplatform::SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
      qxplatform::SetProcessorCount(2);
    }
    DllMain(BenchInstance(), DLL_PROCESS_ATTACH, nullptr);
  }
  for (auto _ : state) {
    void* block = ModuleAlloc(48);
    benchmark::DoNotOptimize(block);
    ModuleFree(block);
  }
  if (state.thread_index() == 0) {
    DllMain(BenchInstance(), DLL_PROCESS_DETACH, nullptr);
    qxplatform::ResetControls();
  }
}
BENCHMARK(BM_ModuleAllocFree)->Arg(1)->Arg(0)->ThreadRange(1, 2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
