// Speed of the type library runtime: loading the product's library from its
// file (read, check, build the objects), the same from memory (what reading
// alone costs), and a client's usual path to a type: LoadRegTypeLib of the
// registered library, then GetTypeInfoOfGuid and GetIDsOfNames.
#include <benchmark/benchmark.h>
#include <oleauto.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <qxplatform/controls.h>

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

}  // namespace

BENCHMARK_MAIN();
