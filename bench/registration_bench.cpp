// Speed of self-registration: the built library's DllRegisterServer and
// DllUnregisterServer, end to end (script resource, registrar, type
// library), on a registry already holding many classes, as a developer
// machine's does.
#include <benchmark/benchmark.h>
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include <qxplatform/controls.h>

namespace {

typedef HRESULT(STDAPICALLTYPE* ServerFunction)(void);

ServerFunction Export(HMODULE library, const char* name) {
  return reinterpret_cast<ServerFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// keys class id keys under HKEY_CLASSES_ROOT\CLSID, each with an
// InprocServer32 subkey: 2 * keys keys in all.
void FillRegistry(int keys) {
  qxplatform::ResetRegistry();
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  char section[256];
  for (int i = 0; i < keys; ++i) {
    snprintf(section, sizeof(section),
             "[HKEY_CLASSES_ROOT\\CLSID\\{%08X-0000-4000-8000-000000000000}"
             "\\InprocServer32]\r\n@=\"C:\\\\lib%d.dll\"\r\n\r\n",
             i, i);
    text += section;
  }
  std::string error;
  if (!qxplatform::ImportRegistryText(text, &error)) {
    fprintf(stderr, "import failed: %s\n", error.c_str());
  }
}

void BM_RegisterUnregister(benchmark::State& state) {
  FillRegistry(static_cast<int>(state.range(0)) / 2);
  HMODULE library = LoadLibraryA(QX_LIBRARY_PATH);
  ServerFunction doRegister = Export(library, "DllRegisterServer");
  ServerFunction doUnregister = Export(library, "DllUnregisterServer");
  if (doRegister == nullptr || doUnregister == nullptr) {
    state.SkipWithError("the library has no registration exports");
    return;
  }
  for (auto _ : state) {
    if (doRegister() != S_OK) state.SkipWithError("DllRegisterServer failed");
    doUnregister();
  }
  FreeLibrary(library);
}
BENCHMARK(BM_RegisterUnregister)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
