// Speed of calling an automation object from JavaScript through the host's
// bridge: o.install() and a property read per call, against the same call
// made straight through IDispatch::Invoke, on the hand-written test server,
// and against the engine's own floor for a Proxy method call; and of
// running a page's many script blocks.
#include <benchmark/benchmark.h>
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <oleauto.h>

#include <string>

#include <qxplatform/controls.h>

#include "base/holders.h"
#include "tools/qxhost/script/script_objects.h"
#include "tools/qxhost/script/script_session.h"

namespace {

constexpr char kClsid[] = "{6A1D0C35-52B1-4E7C-9E0B-3D1F2C6B7A01}";

void RegisterServer() {
  std::string error;
  qxplatform::ResetRegistry();
  qxplatform::ImportRegistryText(
      std::string("Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_CLASSES_ROOT\\QxHostTest.Safe\\CLSID]\r\n@=\"") +
          kClsid + "\"\r\n\r\n[HKEY_CLASSES_ROOT\\CLSID\\" + kClsid +
          "\\InprocServer32]\r\n@=\"" + QX_DISPATCH_SERVER_PATH + "\"\r\n",
      &error);
}

// Times calls of the script's global function call().
void TimeCalls(benchmark::State& state, duk_context* context) {
  for (auto _ : state) {
    duk_get_global_string(context, "call");
    duk_pcall(context, 0);
    benchmark::DoNotOptimize(duk_get_int(context, -1));
    duk_pop(context);
  }
}

// Compiles `source` once as the global function call(), then times calls
// of it; each call makes one automation call.
void TimeScriptCall(benchmark::State& state, const char* body) {
  RegisterServer();
  CoInitializeEx(/*pvReserved=*/nullptr, COINIT_APARTMENTTHREADED);
  {
    qxhost::ScriptSession session(/*untrusted=*/false);
    std::string error;
    if (!session.Open(&error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    qxhost::DefineActiveXObject(session.context());
    std::string setup = std::string(
                            "var o = new ActiveXObject('QxHostTest.Safe');\n"
                            "function call() { return ") +
                        body + "; }\ncall();\n";
    if (session.Run("bench.js", setup, 1) != qxhost::RunOutcome::kCompleted) {
      state.SkipWithError("the setup script failed");
      return;
    }
    TimeCalls(state, session.context());
    session.Close();
  }
  CoFreeUnusedLibraries();
  CoUninitialize();
}

void BM_ScriptMethodCall(benchmark::State& state) {
  TimeScriptCall(state, "o.install()");
}
BENCHMARK(BM_ScriptMethodCall);

void BM_ScriptPropertyRead(benchmark::State& state) {
  TimeScriptCall(state, "o.calls");
}
BENCHMARK(BM_ScriptPropertyRead);

// A page's script blocks, one every other line, run in one session: the
// time per block must not grow with the lines before it.
void BM_PageScriptBlocks(benchmark::State& state) {
  const int blocks = static_cast<int>(state.range(0));
  for (auto _ : state) {
    qxhost::ScriptSession session(/*untrusted=*/true);
    std::string error;
    if (!session.Open(&error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    for (int i = 0; i < blocks; ++i)
      session.Run("page.html", "var n = 1;", 2 + 2 * i);
    session.Close();
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PageScriptBlocks)
    ->RangeMultiplier(4)
    ->Range(1 << 10, 1 << 16)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The engine's own floor for o.install(): a Proxy whose native get trap
// hands back one native function made beforehand, which answers at once.
duk_ret_t FloorMethod(duk_context* context) {
  duk_push_int(context, 1);
  return 1;
}

duk_ret_t FloorGet(duk_context* context) {
  duk_push_global_stash(context);
  duk_get_prop_string(context, -1, "floorMethod");
  return 1;
}

void BM_EngineProxyMethodCall(benchmark::State& state) {
  qxhost::ScriptSession session(/*untrusted=*/false);
  std::string error;
  if (!session.Open(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  duk_context* context = session.context();
  duk_push_global_stash(context);
  duk_push_c_function(context, FloorMethod, DUK_VARARGS);
  duk_put_prop_string(context, -2, "floorMethod");
  duk_pop(context);
  duk_push_object(context);  // the target
  duk_push_object(context);  // the handler
  duk_push_c_function(context, FloorGet, 3);
  duk_put_prop_string(context, -2, "get");
  duk_push_proxy(context, /*proxy_flags=*/0);
  duk_put_global_string(context, "o");
  if (session.Run("floor.js", "function call() { return o.install(); }", 1) !=
      qxhost::RunOutcome::kCompleted) {
    state.SkipWithError("the setup script failed");
    return;
  }
  TimeCalls(state, context);
  session.Close();
}
BENCHMARK(BM_EngineProxyMethodCall);

// The floor: the same method call from C++, name already resolved.
void BM_DirectInvoke(benchmark::State& state) {
  RegisterServer();
  CoInitializeEx(/*pvReserved=*/nullptr, COINIT_APARTMENTTHREADED);
  {
    CLSID clsid = {};
    std::u16string text(kClsid, kClsid + sizeof kClsid - 1);
    CLSIDFromString(text.c_str(), &clsid);
    ComPtr<IDispatch> object;
    CoCreateInstance(clsid, /*pUnkOuter=*/nullptr, CLSCTX_INPROC_SERVER,
                     IID_IDispatch, object.put_void());
    if (!object) {
      state.SkipWithError("the test server is not available");
      return;
    }
    const IID nullIid = {};
    for (auto _ : state) {
      DISPPARAMS none = {nullptr, nullptr, 0, 0};
      VARIANT result;
      VariantInit(&result);
      object->Invoke(1, nullIid, LOCALE_USER_DEFAULT,
                     DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &result,
                     /*pExcepInfo=*/nullptr, /*puArgErr=*/nullptr);
      benchmark::DoNotOptimize(result.lVal);
      VariantClear(&result);
    }
  }
  CoFreeUnusedLibraries();
  CoUninitialize();
}
BENCHMARK(BM_DirectInvoke);

}  // namespace

BENCHMARK_MAIN();
