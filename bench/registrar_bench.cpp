// Speed of the registry script registrar: registering and unregistering the
// library's own script against issuing the same registry calls directly
// (the ratio is what reading the script costs), and the reading throughput
// of a large generated script.
#include <benchmark/benchmark.h>
#include <windows.h>
#include <objbase.h>

#include <fstream>
#include <sstream>
#include <string>

#include <qxplatform/controls.h>

#include "base/allocator.h"
#include "registrar/script_runner.h"

namespace {

constexpr char kClassId[] = "{EC68AD82-001E-4396-9CDC-ED264E512EE4}";
const char16_t kModulePath[] = u"C:\\Program Files\\qx\\qxKorvex.dll";

// The library's script, kept with its resources.
std::string LibraryScript() {
  std::ifstream file(QX_SOURCE_DIR "/installer/resources/qxKorvex.rgs",
                     std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

HRESULT RunLibraryScript(const std::string& script, BOOL doRegister) {
  const LPCOLESTR names[] = {OLESTR("Module")};
  const LPCOLESTR values[] = {kModulePath};
  return RunScriptWithVariables(kProcessHeapAllocator, script.c_str(), names,
                                values, 1, doRegister);
}

// ---- the same registry calls, issued directly --------------------------

// What the walk does for a key entry: open for full access, then for
// reading, then create.
HKEY OpenOrCreate(HKEY parent, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key) == 0) return key;
  if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) == 0) return key;
  RegCreateKeyExA(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  nullptr);
  return key;
}

HKEY WriteKey(HKEY parent, const char* name, const char* value) {
  HKEY key = OpenOrCreate(parent, name);
  if (value != nullptr) {
    RegSetValueExA(key, nullptr, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(strlen(value) + 1));
  }
  return key;
}

void DeleteTree(HKEY parent, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, &key) != 0) return;
  char subkey[256];
  DWORD size = sizeof(subkey);
  while (RegEnumKeyExA(key, 0, subkey, &size, nullptr, nullptr, nullptr,
                       nullptr) == 0) {
    DeleteTree(key, subkey);
    size = sizeof(subkey);
  }
  RegCloseKey(key);
  RegDeleteKeyA(parent, name);
}

void RegisterDirectly(const char* module) {
  HKEY progId = WriteKey(HKEY_CLASSES_ROOT, "QxKorvex.InstallKorvex.1",
                         "InstallKorvex Class");
  RegCloseKey(WriteKey(progId, "CLSID", kClassId));
  RegCloseKey(progId);
  HKEY versionless = WriteKey(HKEY_CLASSES_ROOT, "QxKorvex.InstallKorvex",
                              "InstallKorvex Class");
  RegCloseKey(WriteKey(versionless, "CLSID", kClassId));
  RegCloseKey(WriteKey(versionless, "CurVer", "QxKorvex.InstallKorvex.1"));
  RegCloseKey(versionless);
  HKEY clsid = WriteKey(HKEY_CLASSES_ROOT, "CLSID", nullptr);
  DeleteTree(clsid, kClassId);
  HKEY cls = WriteKey(clsid, kClassId, "InstallKorvex Class");
  RegCloseKey(WriteKey(cls, "ProgID", "QxKorvex.InstallKorvex.1"));
  RegCloseKey(
      WriteKey(cls, "VersionIndependentProgID", "QxKorvex.InstallKorvex"));
  DeleteTree(cls, "Programmable");
  RegCloseKey(WriteKey(cls, "Programmable", nullptr));
  HKEY server = WriteKey(cls, "InprocServer32", module);
  RegSetValueExA(server, "ThreadingModel", 0, REG_SZ,
                 reinterpret_cast<const BYTE*>("Apartment"), 10);
  RegCloseKey(server);
  RegCloseKey(
      WriteKey(cls, "TypeLib", "{0322C3C2-E7C6-466F-9A3B-33519C4FC6B4}"));
  RegCloseKey(cls);
  RegCloseKey(clsid);
}

// What the unregister walk does for a key entry, children first: open for
// reading, ask for subkeys and values, close, delete when nothing is left.
void RemoveKey(HKEY parent, const char* name,
               void (*children)(HKEY key) = nullptr, bool mayDelete = true) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != 0) return;
  if (children != nullptr) children(key);
  DWORD subkeys = 0;
  DWORD values = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                   nullptr, nullptr, nullptr, nullptr, nullptr);
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   &values, nullptr, nullptr, nullptr, nullptr);
  if (values == 1) {
    char valueName[4096];
    DWORD size = sizeof(valueName);
    RegEnumValueA(key, 0, valueName, &size, nullptr, nullptr, nullptr, nullptr);
  }
  RegCloseKey(key);
  if (subkeys == 0 && mayDelete) RegDeleteKeyA(parent, name);
}

void UnregisterDirectly() {
  RemoveKey(HKEY_CLASSES_ROOT, "QxKorvex.InstallKorvex.1",
            [](HKEY key) { RemoveKey(key, "CLSID"); });
  RemoveKey(HKEY_CLASSES_ROOT, "QxKorvex.InstallKorvex", [](HKEY key) {
    RemoveKey(key, "CLSID");
    RemoveKey(key, "CurVer");
  });
  RemoveKey(
      HKEY_CLASSES_ROOT, "CLSID",
      [](HKEY clsid) {
        RemoveKey(clsid, kClassId, [](HKEY cls) {
          RemoveKey(cls, "ProgID");
          RemoveKey(cls, "VersionIndependentProgID");
          RemoveKey(cls, "Programmable");
          RemoveKey(cls, "InprocServer32", [](HKEY server) {
            RegDeleteValueA(server, "ThreadingModel");
          });
          RemoveKey(cls, "TypeLib");
        });
      },
      /*mayDelete=*/false);
}

// ---- benchmarks ----------------------------------------------------------

void BM_RegisterLibraryScript(benchmark::State& state) {
  const std::string script = LibraryScript();
  if (script.empty()) state.SkipWithError("no script");
  for (auto _ : state) {
    state.PauseTiming();
    qxplatform::ResetRegistry();
    state.ResumeTiming();
    if (FAILED(RunLibraryScript(script, TRUE))) state.SkipWithError("failed");
  }
}
BENCHMARK(BM_RegisterLibraryScript);

void BM_RegisterDirectly(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    qxplatform::ResetRegistry();
    state.ResumeTiming();
    RegisterDirectly("C:\\Program Files\\qx\\qxKorvex.dll");
  }
}
BENCHMARK(BM_RegisterDirectly);

void BM_UnregisterLibraryScript(benchmark::State& state) {
  const std::string script = LibraryScript();
  for (auto _ : state) {
    state.PauseTiming();
    qxplatform::ResetRegistry();
    RegisterDirectly("C:\\Program Files\\qx\\qxKorvex.dll");
    state.ResumeTiming();
    if (FAILED(RunLibraryScript(script, FALSE))) state.SkipWithError("failed");
  }
}
BENCHMARK(BM_UnregisterLibraryScript);

void BM_UnregisterDirectly(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    qxplatform::ResetRegistry();
    RegisterDirectly("C:\\Program Files\\qx\\qxKorvex.dll");
    state.ResumeTiming();
    UnregisterDirectly();
  }
}
BENCHMARK(BM_UnregisterDirectly);

// Thousands of keys with values and nested blocks, a megabyte or more.
std::string LargeScript(int keys) {
  std::string text = "HKCR\r\n{\r\n";
  char line[512];
  for (int i = 0; i < keys; ++i) {
    snprintf(line, sizeof(line),
             "\tQxBench.Key%05d = s 'Value number %d for %%MODULE%%'\r\n"
             "\t{\r\n\t\tval Name = s 'It''s the %d-th key'\r\n"
             "\t\tSub = d 4096\r\n\t\t{\r\n"
             "\t\t\tval Bytes = b 0123456789abcdefFEDCBA9876543210\r\n"
             "\t\t}\r\n\t}\r\n",
             i, i, i);
    text += line;
  }
  text += "}\r\n";
  return text;
}

// Unregistering a script none of whose keys exist reads every token but
// touches only the registry's top level: the reading cost alone.
void BM_ReadLargeScript(benchmark::State& state) {
  const std::string script = LargeScript(static_cast<int>(state.range(0)));
  qxplatform::ResetRegistry();
  for (auto _ : state) {
    if (FAILED(RunLibraryScript(script, FALSE))) state.SkipWithError("failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(script.size()));
  state.counters["script_bytes"] = static_cast<double>(script.size());
}
BENCHMARK(BM_ReadLargeScript)->Arg(8000)->Unit(benchmark::kMillisecond);

// Registering the same script: reading plus 16 000 keys written.
void BM_RegisterLargeScript(benchmark::State& state) {
  const std::string script = LargeScript(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    qxplatform::ResetRegistry();
    state.ResumeTiming();
    if (FAILED(RunLibraryScript(script, TRUE))) state.SkipWithError("failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(script.size()));
}
BENCHMARK(BM_RegisterLargeScript)->Arg(8000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
