// What a dispatch call costs over the vtable call it becomes: install of
// the product's dual interface (one [out, retval] LONG) called directly
// through its slot, through ITypeInfo::Invoke on the dispatch view a
// framework's IDispatch uses, and through DispCallFunc alone.
#include <benchmark/benchmark.h>
#include <oleauto.h>

#include <string>

#include "platform/install_stand_in.h"

namespace {

const std::string kProductLibrary =
    std::string(QX_TYPELIB_DIR) + "/qxKorvex.tlb";
const std::u16string kProductPath(kProductLibrary.begin(),
                                  kProductLibrary.end());
void BM_DirectVtableCall(benchmark::State& state) {
  StandInInstall object;
  // Through the interface, so the compiler cannot see which class it is.
  IInstallKorvex* volatile target = &object;
  for (auto _ : state) {
    LONG value = 0;
    benchmark::DoNotOptimize(target->install(&value));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_DirectVtableCall);

void BM_DispCallFunc(benchmark::State& state) {
  StandInInstall object;
  LONG value = 0;
  VARIANT out;
  VariantInit(&out);
  out.plVal = &value;
  VARTYPE types[] = {VT_BYREF | VT_I4};
  VARIANT* args[] = {&out};
  for (auto _ : state) {
    VARIANT result;
    benchmark::DoNotOptimize(DispCallFunc(static_cast<IInstallKorvex*>(&object),
                                          7 * sizeof(void*), CC_STDCALL,
                                          VT_HRESULT, 1, types, args, &result));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_DispCallFunc);

void BM_TypeInfoInvoke(benchmark::State& state) {
  ITypeLib* lib = nullptr;
  ITypeInfo* info = nullptr;
  if (FAILED(LoadTypeLibEx(kProductPath.c_str(), REGKIND_NONE, &lib)) ||
      FAILED(lib->GetTypeInfoOfGuid(IID_IInstallKorvex, &info))) {
    state.SkipWithError("the product's type library did not load");
    if (lib != nullptr) lib->Release();
    return;
  }
  StandInInstall object;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  for (auto _ : state) {
    VARIANT result;
    VariantInit(&result);
    benchmark::DoNotOptimize(info->Invoke(static_cast<IInstallKorvex*>(&object),
                                          1, DISPATCH_METHOD, &none, &result,
                                          nullptr, nullptr));
    benchmark::DoNotOptimize(result.lVal);
  }
  info->Release();
  lib->Release();
}
BENCHMARK(BM_TypeInfoInvoke);

}  // namespace

BENCHMARK_MAIN();
