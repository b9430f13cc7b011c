// Speed and memory of the platform's registry store: RegQueryInfoKeyA on a
// key of few or many subkeys, walking the subkeys of a
// large key with RegEnumKeyExA (whole walks, and single steps in the middle of
// a huge key), exporting a registry of 100k keys as .reg text, and the bytes
// the store keeps per key, counted through this program's operator new.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <qxplatform/controls.h>

#include "counted_allocation.h"

namespace {

// A class id of the shape "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", spread so
// that creation order is not name order.
std::string ClassId(unsigned n) {
  unsigned a = n * 2654435761u;
  unsigned b = (n ^ 0x5bd1e995u) * 40503u;
  char text[40];
  std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%04X-%04X%08X}", a,
                b & 0xFFFF, (b >> 16) & 0xFFFF, n & 0xFFFF, (a >> 8) & 0xFFFF,
                n);
  return text;
}

HKEY Create(HKEY parent, const std::string& path) {
  HKEY key = nullptr;
  RegCreateKeyExA(parent, path.c_str(), 0, /*lpClass=*/nullptr, 0,
                  KEY_ALL_ACCESS, /*lpSecurityAttributes=*/nullptr, &key,
                  /*lpdwDisposition=*/nullptr);
  return key;
}

void SetString(HKEY key, const char* name, const std::string& text) {
  RegSetValueExA(key, name, 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}

// HKCU\Wide with `count` subkeys and nothing else; the handle stays open.
HKEY BuildWideKey(unsigned count) {
  qxplatform::ResetRegistry();
  HKEY wide = Create(HKEY_CURRENT_USER, "Wide");
  for (unsigned i = 0; i < count; ++i) RegCloseKey(Create(wide, ClassId(i)));
  return wide;
}

bool EnumStep(HKEY key, DWORD index) {
  char name[MAX_PATH];
  DWORD length = sizeof(name);
  return RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr,
                       nullptr) == ERROR_SUCCESS;
}

// Registered classes as a library registers them:
// HKCR\CLSID\{id} (default value) and its InprocServer32 (default value and
// ThreadingModel), two keys per class.
void BuildClassRegistry(unsigned keys) {
  qxplatform::ResetRegistry();
  HKEY classes = Create(HKEY_CLASSES_ROOT, "CLSID");
  for (unsigned i = 0; i < keys / 2; ++i) {
    HKEY cls = Create(classes, ClassId(i));
    SetString(cls, nullptr, "Sample Object " + std::to_string(i));
    HKEY server = Create(cls, "InprocServer32");
    SetString(
        server, nullptr,
        "C:\\Program Files\\Sample\\sample" + std::to_string(i % 97) + ".dll");
    SetString(server, "ThreadingModel", "Apartment");
    RegCloseKey(server);
    RegCloseKey(cls);
  }
  RegCloseKey(classes);
}

// ---- enumeration -------------------------------------------------------

// A whole walk over the subkeys, reported per step.
void BM_EnumerateAllSubkeys(benchmark::State& state) {
  const auto count = static_cast<unsigned>(state.range(0));
  HKEY wide = BuildWideKey(count);
  for (auto _ : state) {
    for (DWORD i = 0; i < count; ++i) {
      if (!EnumStep(wide, i)) state.SkipWithError("enumeration failed");
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
  RegCloseKey(wide);
  qxplatform::ResetRegistry();
}
BENCHMARK(BM_EnumerateAllSubkeys)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

// RegQueryInfoKeyA on a key of n subkeys, as a registrar asks whether a
// key has any: the same cost whatever n.
void BM_QueryInfoOfAWideKey(benchmark::State& state) {
  HKEY wide = BuildWideKey(static_cast<unsigned>(state.range(0)));
  for (auto _ : state) {
    DWORD subkeys = 0;
    DWORD longest = 0;
    if (RegQueryInfoKeyA(wide, nullptr, nullptr, nullptr, &subkeys, &longest,
                         nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr) != ERROR_SUCCESS ||
        subkeys != state.range(0))
      state.SkipWithError("RegQueryInfoKeyA failed");
  }
  RegCloseKey(wide);
  qxplatform::ResetRegistry();
}
BENCHMARK(BM_QueryInfoOfAWideKey)
    ->Arg(10)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond);

constexpr unsigned kHugeKey = 200000;

// One step of a walk in the middle of a huge key: index i after i-1, from
// n/2 on (starting over at n/2 once the end is reached).
void BM_EnumerateStepForwardInTheMiddle(benchmark::State& state) {
  HKEY wide = BuildWideKey(kHugeKey);
  DWORD index = kHugeKey / 2;
  for (auto _ : state) {
    if (!EnumStep(wide, index)) state.SkipWithError("enumeration failed");
    if (++index == kHugeKey) index = kHugeKey / 2;
  }
  state.SetItemsProcessed(state.iterations());
  RegCloseKey(wide);
  qxplatform::ResetRegistry();
}
BENCHMARK(BM_EnumerateStepForwardInTheMiddle)->Unit(benchmark::kMicrosecond);

// The same walking backwards, as callers that delete while they walk do:
// index i after i+1, from n/2 down.
void BM_EnumerateStepBackwardInTheMiddle(benchmark::State& state) {
  HKEY wide = BuildWideKey(kHugeKey);
  DWORD index = kHugeKey / 2;
  for (auto _ : state) {
    if (!EnumStep(wide, index)) state.SkipWithError("enumeration failed");
    index = index == 0 ? kHugeKey / 2 : index - 1;
  }
  state.SetItemsProcessed(state.iterations());
  RegCloseKey(wide);
  qxplatform::ResetRegistry();
}
BENCHMARK(BM_EnumerateStepBackwardInTheMiddle)->Unit(benchmark::kMicrosecond);

// ---- a registry of 100k keys ---------------------------------------------

constexpr unsigned kRegistryKeys = 100000;

void BM_ExportWholeRegistry(benchmark::State& state) {
  BuildClassRegistry(kRegistryKeys);
  std::string text;
  std::string error;
  for (auto _ : state) {
    if (!qxplatform::ExportRegistryText(nullptr, &text, &error))
      state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                          kRegistryKeys);
  qxplatform::ResetRegistry();
}
BENCHMARK(BM_ExportWholeRegistry)->Unit(benchmark::kMillisecond);

// What a client does to find a class's server: open
// CLSID\{id}\InprocServer32 from the root, read the default value and
// ThreadingModel, close.
void BM_OpenAndQueryServer(benchmark::State& state) {
  BuildClassRegistry(kRegistryKeys);
  unsigned n = 0;
  for (auto _ : state) {
    std::string path =
        "CLSID\\" + ClassId(n++ % (kRegistryKeys / 2)) + "\\InprocServer32";
    HKEY server = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &server) !=
        ERROR_SUCCESS) {
      state.SkipWithError("open failed");
      break;
    }
    char text[MAX_PATH];
    DWORD size = sizeof(text);
    RegQueryValueExA(server, nullptr, nullptr, nullptr,
                     reinterpret_cast<BYTE*>(text), &size);
    size = sizeof(text);
    RegQueryValueExA(server, "ThreadingModel", nullptr, nullptr,
                     reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(server);
  }
  state.SetItemsProcessed(state.iterations());
  qxplatform::ResetRegistry();
}
BENCHMARK(BM_OpenAndQueryServer)->Unit(benchmark::kMicrosecond);

// What the store keeps per key once the registry is built; the time is that
// of building it through the registry calls.
void BM_StoreBytesPerKey(benchmark::State& state) {
  double bytesPerKey = 0;
  for (auto _ : state) {
    state.PauseTiming();
    qxplatform::ResetRegistry();
    long long before = counted::Live();
    state.ResumeTiming();
    BuildClassRegistry(kRegistryKeys);
    state.PauseTiming();
    bytesPerKey = static_cast<double>(counted::Live() - before) /
                  static_cast<double>(kRegistryKeys);
    qxplatform::ResetRegistry();
    state.ResumeTiming();
  }
  state.counters["bytes_per_key"] = bytesPerKey;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                          kRegistryKeys);
}
BENCHMARK(BM_StoreBytesPerKey)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
