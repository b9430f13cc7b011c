// Speed of the type library runtime: loading the product's library from its
// file (read, check, build the objects), the same from memory (what reading
// alone costs), and a client's usual path to a type: LoadRegTypeLib of the
// registered library, then GetTypeInfoOfGuid and GetIDsOfNames. Then how
// that grows with the interface: GetIDsOfNames on interfaces of 10, 1k and
// 16k methods, and qxhost typelib printing such a library whole.
#include <benchmark/benchmark.h>
#include <oleauto.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <qxplatform/controls.h>

#include "host_process.h"
#include "installer/iinstall_korvex.h"

namespace {

const std::string kProductLibrary =
    std::string(QX_TYPELIB_DIR) + "/qxKorvex.tlb";
const std::u16string kProductPath(kProductLibrary.begin(),
                                  kProductLibrary.end());
void LoadFromFile(benchmark::State& state) {
  for (auto _ : state) {
    ITypeLib* lib = nullptr;
    if (FAILED(LoadTypeLibEx(kProductPath.c_str(), REGKIND_NONE, &lib))) {
      state.SkipWithError("LoadTypeLibEx failed");
      return;
    }
    lib->Release();
  }
}
BENCHMARK(LoadFromFile);

void LoadFromMemory(benchmark::State& state) {
  std::ifstream file(kProductLibrary, std::ios::binary);
  std::vector<char> bytes(std::istreambuf_iterator<char>(file), {});
  for (auto _ : state) {
    ITypeLib* lib = nullptr;
    if (FAILED(qxplatform::LoadTypeLibFromMemory(bytes.data(), bytes.size(),
                                                 &lib))) {
      state.SkipWithError("LoadTypeLibFromMemory failed");
      return;
    }
    lib->Release();
  }
  state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(LoadFromMemory);

void RegisteredLookup(benchmark::State& state) {
  qxplatform::ResetRegistry();
  ITypeLib* registered = nullptr;
  if (FAILED(
          LoadTypeLibEx(kProductPath.c_str(), REGKIND_REGISTER, &registered))) {
    state.SkipWithError("registration failed");
    return;
  }
  registered->Release();
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"install")};
  for (auto _ : state) {
    ITypeLib* lib = nullptr;
    ITypeInfo* info = nullptr;
    MEMBERID id = 0;
    if (FAILED(LoadRegTypeLib(LIBID_QXKORVEXLib, 1, 0, 0, &lib)) ||
        FAILED(lib->GetTypeInfoOfGuid(IID_IInstallKorvex, &info)) ||
        FAILED(info->GetIDsOfNames(names, 1, &id))) {
      state.SkipWithError("lookup failed");
      return;
    }
    benchmark::DoNotOptimize(id);
    info->Release();
    lib->Release();
  }
  qxplatform::ResetRegistry();
}
BENCHMARK(RegisteredLookup);

// The generated library of `count` members (members_idl.cmake).
std::string MembersLibrary(int64_t count) {
  return std::string(QX_TYPELIB_DIR) + "/members" + std::to_string(count) +
         ".tlb";
}

// One name per call, in a case the library does not spell it in, and the
// last method, which a search in member order meets last.
void LookupByName(benchmark::State& state) {
  const std::string path = MembersLibrary(state.range(0));
  const std::u16string widePath(path.begin(), path.end());
  const std::string last = "member" + std::to_string(state.range(0) - 1);
  std::u16string name(last.begin(), last.end());
  LPOLESTR names[] = {&name[0]};
  ITypeLib* lib = nullptr;
  ITypeInfo* info = nullptr;
  if (FAILED(LoadTypeLibEx(widePath.c_str(), REGKIND_NONE, &lib)) ||
      FAILED(lib->GetTypeInfo(0, &info))) {
    state.SkipWithError("the members library did not load");
    if (lib != nullptr) lib->Release();
    return;
  }
  for (auto _ : state) {
    MEMBERID id = 0;
    if (FAILED(info->GetIDsOfNames(names, 1, &id))) {
      state.SkipWithError("GetIDsOfNames failed");
      break;
    }
    benchmark::DoNotOptimize(id);
  }
  info->Release();
  lib->Release();
}
BENCHMARK(LookupByName)->Arg(10)->Arg(1024)->Arg(16384);

// qxhost typelib of the whole library: both views of the dual interface
// and the dispatch interface's properties, one process per iteration.
void HostTypelib(benchmark::State& state) {
  const std::string path = MembersLibrary(state.range(0));
  for (auto _ : state) {
    if (RunHost({"typelib", path}) < 0) {
      state.SkipWithError("qxhost typelib failed");
      return;
    }
  }
}
BENCHMARK(HostTypelib)
    ->Arg(1024)
    ->Arg(16384)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
