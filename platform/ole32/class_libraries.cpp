// The libraries the runtime loaded for classes. The table holds one load
// reference per library; an activation holds its own reference while it is
// inside DllGetClassObject, so a concurrent CoFreeUnusedLibraries never
// unloads a library under it. The loader is never called with the table's
// lock held: a DllMain runs under the loader's lock and may call back in.
//
// CoFreeUnusedLibraries takes each library out of the table while it asks
// DllCanUnloadNow, so that a second sweep (from another thread, or from the
// library itself) never frees what the first is still asking. Libraries are
// freed at once when they agree, without the delay the system allows
// multithreaded servers; one that does not export DllCanUnloadNow stays
// until the process's last CoUninitialize.
#include <algorithm>
#include <mutex>
#include <vector>

#include "ole32_internal.h"

namespace {

constexpr char kGetClassObjectExport[] = "DllGetClassObject";
constexpr char kCanUnloadNowExport[] = "DllCanUnloadNow";

typedef HRESULT(WINAPI* GetClassObjectFunction)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(WINAPI* CanUnloadNowFunction)(void);

struct ClassLibraries {
  std::mutex lock;
  std::vector<HMODULE> loaded;
};

ClassLibraries& Table() {
  static ClassLibraries& table = *new ClassLibraries;  // lives to the end
  return table;
}

template <typename Function>
Function ExportOf(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// Takes library out of the table; false when it was not there.
bool TakeOut(HMODULE library) {
  ClassLibraries& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto found = std::find(table.loaded.begin(), table.loaded.end(), library);
  if (found == table.loaded.end()) return false;
  table.loaded.erase(found);
  return true;
}

// Hands one load reference of library to the table; false when the table
// already holds one, and the caller keeps (and frees) its own.
bool PutBack(HMODULE library) {
  ClassLibraries& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  if (std::find(table.loaded.begin(), table.loaded.end(), library) !=
      table.loaded.end())
    return false;
  table.loaded.push_back(library);
  return true;
}

}  // namespace

namespace qxplatform {
namespace internal {

HRESULT GetClassObjectFromLibrary(const std::string& path, REFCLSID clsid,
                                  REFIID iid, void** out) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (library == nullptr) return CO_E_DLLNOTFOUND;
  auto getClassObject =
      ExportOf<GetClassObjectFunction>(library, kGetClassObjectExport);
  if (getClassObject == nullptr) {
    FreeLibrary(library);
    return CO_E_ERRORINDLL;
  }
  HRESULT hr = getClassObject(clsid, iid, out);
  if (FAILED(hr)) *out = nullptr;
  // A library that gave nothing out is not kept for it.
  if (FAILED(hr) || !PutBack(library)) FreeLibrary(library);
  return hr;
}

void FreeAllClassLibraries() {
  std::vector<HMODULE> loaded;
  {
    ClassLibraries& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    loaded.swap(table.loaded);
  }
  for (auto it = loaded.rbegin(); it != loaded.rend(); ++it) FreeLibrary(*it);
}

}  // namespace internal
}  // namespace qxplatform

void WINAPI CoFreeUnusedLibraries(void) {
  std::vector<HMODULE> candidates;
  {
    ClassLibraries& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    candidates = table.loaded;
  }
  for (HMODULE library : candidates) {
    if (!TakeOut(library)) continue;  // another sweep has it
    auto canUnloadNow =
        ExportOf<CanUnloadNowFunction>(library, kCanUnloadNowExport);
    if ((canUnloadNow != nullptr && canUnloadNow() == S_OK) ||
        !PutBack(library))
      FreeLibrary(library);
  }
}
