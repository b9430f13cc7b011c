// Speed of resource lookups on the built library: a lookup on a loaded
// module, served from what was read on its first lookup, against a load
// as a data file that has to read the file for its one lookup.
#include <benchmark/benchmark.h>
#include <windows.h>

namespace {

constexpr char kLibraryPath[] = QX_LIBRARY_PATH;

HMODULE LoadAsData() {
  return LoadLibraryExA(kLibraryPath, /*hFile=*/nullptr,
                        LOAD_LIBRARY_AS_DATAFILE);
}

DWORD RegistryScriptSize(HMODULE module) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(101), "REGISTRY");
  if (found == nullptr || LockResource(LoadResource(module, found)) == nullptr)
    return 0;
  return SizeofResource(module, found);
}

void BM_LookupOnLoadedModule(benchmark::State& state) {
  HMODULE module = LoadAsData();
  if (RegistryScriptSize(module) == 0) state.SkipWithError("no script");
  for (auto _ : state) benchmark::DoNotOptimize(RegistryScriptSize(module));
  FreeLibrary(module);
}
BENCHMARK(BM_LookupOnLoadedModule);

void BM_LoadLookupFree(benchmark::State& state) {
  for (auto _ : state) {
    HMODULE module = LoadAsData();
    benchmark::DoNotOptimize(RegistryScriptSize(module));
    FreeLibrary(module);
  }
}
BENCHMARK(BM_LoadLookupFree);

void BM_LoadStringOnLoadedModule(benchmark::State& state) {
  HMODULE module = LoadAsData();
  char name[64];
  for (auto _ : state)
    benchmark::DoNotOptimize(LoadStringA(module, 100, name, sizeof(name)));
  FreeLibrary(module);
}
BENCHMARK(BM_LoadStringOnLoadedModule);

}  // namespace

BENCHMARK_MAIN();
