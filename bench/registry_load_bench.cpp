// Importing a large .reg text in process: keys per second, and the memory
// it takes per key at the peak of the import and kept afterwards. Also the
// whole host: qxhost started on a registry database of the same keys, its
// wall time and the largest resident size it reaches, against a run on an
// empty registry.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <qxplatform/controls.h>

#include "counted_allocation.h"
#include "host_process.h"

namespace {

constexpr int kClasses = 50000;  // two keys each
constexpr int kKeys = 2 * kClasses;
constexpr char kRegistryPath[] = "/tmp/qx_registry_load_bench.db";
constexpr char kEmptyRegistryPath[] = "/tmp/qx_registry_load_bench_empty.db";

// .reg text as a developer machine's registry: class ids with a name, each
// with an InprocServer32 subkey naming its library and threading model.
std::string RegistryText() {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  char section[512];
  for (int i = 0; i < kClasses; ++i) {
    std::snprintf(section, sizeof(section),
                  "[HKEY_CLASSES_ROOT\\CLSID\\{%08X-1C2B-4F3A-9D8E-%012X}]\r\n"
                  "@=\"Sample Class %d\"\r\n\r\n"
                  "[HKEY_CLASSES_ROOT\\CLSID\\{%08X-1C2B-4F3A-9D8E-%012X}"
                  "\\InprocServer32]\r\n"
                  "@=\"C:\\\\Program Files\\\\Sample\\\\lib%d.dll\"\r\n"
                  "\"ThreadingModel\"=\"Apartment\"\r\n\r\n",
                  i * 2654435761u, i, i, i * 2654435761u, i, i);
    text += section;
  }
  return text;
}

void MakeRegistryFile() {
  unlink(kRegistryPath);
  std::string error;
  if (!qxplatform::OpenRegistryDatabase(kRegistryPath, &error) ||
      !qxplatform::ImportRegistryText(RegistryText(), &error)) {
    std::fprintf(stderr, "cannot make the registry: %s\n", error.c_str());
    std::exit(1);
  }
}

// Made in a child process, so that this one stays small: a child forked
// later to run the host starts with this process's resident size.
const std::string& RegistryFile() {
  static const std::string path = [] {
    pid_t child = fork();
    if (child == 0) {
      MakeRegistryFile();
      _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child ||
        !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      std::exit(1);
    return std::string(kRegistryPath);
  }();
  return path;
}

void BM_HostLoad(benchmark::State& state) {
  std::string registry =
      state.range(0) != 0 ? RegistryFile() : kEmptyRegistryPath;
  long maxResident = 0;
  for (auto _ : state) {
    // qxhost on the registry, printing one small key.
    maxResident =
        RunHost({"--registry", registry, "reg", "export", "HKEY_CURRENT_USER"});
    if (maxResident < 0) state.SkipWithError("qxhost failed");
  }
  state.counters["max_resident_kib"] = static_cast<double>(maxResident);
}
BENCHMARK(BM_HostLoad)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ImportRegistryText(benchmark::State& state) {
  const std::string text = RegistryText();
  long long peak = 0, kept = 0;
  for (auto _ : state) {
    state.PauseTiming();
    qxplatform::ResetRegistry();
    long long before = counted::Live();
    counted::MarkPeak();
    state.ResumeTiming();
    std::string error;
    if (!qxplatform::ImportRegistryText(text, &error))
      state.SkipWithError(error.c_str());
    state.PauseTiming();
    peak = counted::Peak() - before;
    kept = counted::Live() - before;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
  state.counters["peak_bytes_per_key"] = static_cast<double>(peak) / kKeys;
  state.counters["kept_bytes_per_key"] = static_cast<double>(kept) / kKeys;
}
BENCHMARK(BM_ImportRegistryText)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
