// The host's work against registries of growing size: qxhost regsvr32 (and
// regsvr32 -u alone) and
// qxhost run of the example install.js (the provider present, so nothing is
// started) on 10, 10k, 100k and 1M keys already there, with the host's
// largest resident size; importing a large .reg file through the host; and,
// in process, opening a class's InprocServer32 and reading its default value
// as COM activation does.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <qxplatform/controls.h>

#include "host_process.h"

namespace {

bool OpenRegistry(const std::string& path, std::string* error) {
  return qxplatform::OpenRegistryDatabase(path.c_str(), error);
}

constexpr char kScratch[] = "/tmp/qx_registry_host_bench";

std::string ClassId(unsigned n) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08X-1C2B-4F3A-9D8E-%012X}",
                n * 2654435761u, n);
  return text;
}

// A .reg file of `keys` keys under HKEY_CLASSES_ROOT\CLSID: class ids with a
// name, each with an InprocServer32 subkey, as a developer machine's.
std::string RegFileOfKeys(long keys) {
  std::string path =
      std::string(kScratch) + "/keys" + std::to_string(keys) + ".reg";
  if (access(path.c_str(), R_OK) == 0) return path;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return "";
  std::fputs("Windows Registry Editor Version 5.00\r\n\r\n", file);
  for (long i = 0; i < keys / 2; ++i) {
    std::string id = ClassId(static_cast<unsigned>(i));
    std::fprintf(file,
                 "[HKEY_CLASSES_ROOT\\CLSID\\%s]\r\n@=\"Sample Class %ld\"\r\n"
                 "\r\n[HKEY_CLASSES_ROOT\\CLSID\\%s\\InprocServer32]\r\n"
                 "@=\"C:\\\\Program Files\\\\Sample\\\\lib%ld.dll\"\r\n"
                 "\"ThreadingModel\"=\"Apartment\"\r\n\r\n",
                 id.c_str(), i, id.c_str(), i);
  }
  std::fclose(file);
  return path;
}

std::string SelfImage() {
  char image[4096];
  ssize_t length = readlink("/proc/self/exe", image, sizeof(image) - 1);
  return std::string(image, length > 0 ? static_cast<size_t>(length) : 0);
}

// A registry of `keys` keys plus the provider's entry, made once per size
// by the host itself; empty when the host refused it.
std::string RegistryOfKeys(long keys) {
  static std::map<long, std::string> made;
  auto found = made.find(keys);
  if (found != made.end()) return found->second;
  std::string registry =
      std::string(kScratch) + "/registry" + std::to_string(keys) + ".db";
  std::string provider = std::string(kScratch) + "/provider.reg";
  FILE* file = std::fopen(provider.c_str(), "wb");
  if (file != nullptr) {
    std::fprintf(file,
                 "Windows Registry Editor Version 5.00\r\n\r\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\"
                 "Defaults\\Provider\\Selvane Korvex for RDKV CSP v1.0]\r\n"
                 "\"Image Path\"=\"%s\"\r\n\"Type\"=dword:00000001\r\n",
                 SelfImage().c_str());
    std::fclose(file);
  }
  unlink(registry.c_str());
  bool ok = RunHost({"--registry", registry, "reg", "import",
                     RegFileOfKeys(keys)}) >= 0 &&
            RunHost({"--registry", registry, "reg", "import", provider}) >= 0;
  made[keys] = ok ? registry : "";
  return made[keys];
}

void PrepareScratch() {
  static bool done = [] {
    return system((std::string("mkdir -p ") + kScratch).c_str()) == 0;
  }();
  (void)done;
}

void BM_HostRegsvr32(benchmark::State& state) {
  PrepareScratch();
  std::string registry = RegistryOfKeys(state.range(0));
  if (registry.empty()) {
    state.SkipWithError("the host refused a registry of this size");
    return;
  }
  long resident = 0;
  for (auto _ : state) {
    resident = RunHost({"--registry", registry, "regsvr32", QX_LIBRARY_PATH});
    state.PauseTiming();
    if (resident < 0 || RunHost({"--registry", registry, "regsvr32", "-u",
                                 QX_LIBRARY_PATH}) < 0)
      state.SkipWithError("qxhost regsvr32 failed");
    state.ResumeTiming();
  }
  state.counters["max_resident_kib"] = static_cast<double>(resident);
}
// qxhost regsvr32 -u alone, the registration made again untimed.
void BM_HostRegsvr32Unregister(benchmark::State& state) {
  PrepareScratch();
  std::string registry = RegistryOfKeys(state.range(0));
  if (registry.empty()) {
    state.SkipWithError("the host refused a registry of this size");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    if (RunHost({"--registry", registry, "regsvr32", QX_LIBRARY_PATH}) < 0)
      state.SkipWithError("qxhost regsvr32 failed");
    state.ResumeTiming();
    if (RunHost({"--registry", registry, "regsvr32", "-u",
                 QX_LIBRARY_PATH}) < 0)
      state.SkipWithError("qxhost regsvr32 -u failed");
  }
}
// Registries from a handful of keys to a million.
void RegistrySizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(10)
      ->Arg(10000)
      ->Arg(100000)
      ->Arg(1000000)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}
BENCHMARK(BM_HostRegsvr32)->Apply(RegistrySizes);
BENCHMARK(BM_HostRegsvr32Unregister)->Apply(RegistrySizes);

void BM_HostRunInstall(benchmark::State& state) {
  PrepareScratch();
  std::string registry = RegistryOfKeys(state.range(0));
  if (registry.empty() ||
      RunHost({"--registry", registry, "regsvr32", QX_LIBRARY_PATH}) < 0) {
    state.SkipWithError("cannot prepare the registry");
    return;
  }
  const std::string script =
      std::string(QX_SOURCE_DIR) + "/examples/install.js";
  long resident = 0;
  for (auto _ : state) {
    resident = RunHost({"--registry", registry, "run", script});
    if (resident < 0) state.SkipWithError("qxhost run failed");
  }
  RunHost({"--registry", registry, "regsvr32", "-u", QX_LIBRARY_PATH});
  state.counters["max_resident_kib"] = static_cast<double>(resident);
}
BENCHMARK(BM_HostRunInstall)->Apply(RegistrySizes);

// One import of a whole .reg file of range(0) keys into a new registry.
void BM_HostImport(benchmark::State& state) {
  PrepareScratch();
  const long keys = state.range(0);
  std::string file = RegFileOfKeys(keys);
  std::string registry = std::string(kScratch) + "/import.db";
  for (auto _ : state) {
    state.PauseTiming();
    unlink(registry.c_str());
    state.ResumeTiming();
    if (RunHost({"--registry", registry, "reg", "import", file}) < 0)
      state.SkipWithError("the host refused the import");
  }
  state.SetItemsProcessed(state.iterations() * keys);
}
BENCHMARK(BM_HostImport)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// RegOpenKeyExA of a class's InprocServer32 and RegQueryValueExA of its
// default value, in a process whose registry holds 100k keys.
void BM_OpenQueryInprocServer(benchmark::State& state) {
  PrepareScratch();
  std::string registry = RegistryOfKeys(100000);
  std::string error;
  if (registry.empty() || !OpenRegistry(registry, &error)) {
    state.SkipWithError(("cannot open the registry: " + error).c_str());
    return;
  }
  std::string path = "CLSID\\" + ClassId(12345) + "\\InprocServer32";
  for (auto _ : state) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
      state.SkipWithError("no such class");
      break;
    }
    char value[MAX_PATH];
    DWORD size = sizeof(value);
    DWORD type = 0;
    LSTATUS status = RegQueryValueExA(key, nullptr, nullptr, &type,
                                      reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) state.SkipWithError("no default value");
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_OpenQueryInprocServer)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
