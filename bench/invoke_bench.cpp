// What a dispatch call costs over the vtable call it becomes: install of
// the product's dual interface (one [out, retval] LONG) called directly
// through its slot, through ITypeInfo::Invoke on the dispatch view a
// framework's IDispatch uses, and through DispCallFunc alone.
#include <benchmark/benchmark.h>
#include <oleauto.h>

#include <string>

namespace {

const std::string kProductLibrary =
    std::string(QX_TYPELIB_DIR) + "/qxKorvex.tlb";
const std::u16string kProductPath(kProductLibrary.begin(),
                                  kProductLibrary.end());
constexpr GUID kIInstallKorvex = {
    0xD561B16B,
    0x0E95,
    0x460A,
    {0x81, 0x9D, 0xEF, 0x05, 0xD1, 0xA2, 0x9B, 0xC1}};

// install at slot 7, after IUnknown's and IDispatch's.
struct IInstall : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE install(LONG* val) = 0;
};

class StandIn final : public IInstall {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID,
                                          DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*,
                                   VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE install(LONG* val) override {
    *val = 42;
    return S_OK;
  }
};

void BM_DirectVtableCall(benchmark::State& state) {
  StandIn object;
  // Through the interface, so the compiler cannot see which class it is.
  IInstall* volatile target = &object;
  for (auto _ : state) {
    LONG value = 0;
    benchmark::DoNotOptimize(target->install(&value));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_DirectVtableCall);

void BM_DispCallFunc(benchmark::State& state) {
  StandIn object;
  LONG value = 0;
  VARIANT out;
  VariantInit(&out);
  out.plVal = &value;
  VARTYPE types[] = {VT_BYREF | VT_I4};
  VARIANT* args[] = {&out};
  for (auto _ : state) {
    VARIANT result;
    benchmark::DoNotOptimize(DispCallFunc(static_cast<IInstall*>(&object),
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
      FAILED(lib->GetTypeInfoOfGuid(kIInstallKorvex, &info))) {
    state.SkipWithError("the product's type library did not load");
    if (lib != nullptr) lib->Release();
    return;
  }
  StandIn object;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  for (auto _ : state) {
    VARIANT result;
    VariantInit(&result);
    benchmark::DoNotOptimize(info->Invoke(static_cast<IInstall*>(&object), 1,
                                          DISPATCH_METHOD, &none, &result,
                                          nullptr, nullptr));
    benchmark::DoNotOptimize(result.lVal);
  }
  info->Release();
  lib->Release();
}
BENCHMARK(BM_TypeInfoInvoke);

}  // namespace

BENCHMARK_MAIN();
