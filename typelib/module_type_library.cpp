// Loading, registering and unregistering a module's type library, in the
// order the automation runtime expects: the module file first, then the
// ".tlb" beside it.
#include "typelib/module_type_library.h"

#include <string.h>

#include "base/holders.h"
#include "base/last_error.h"
#include "base/module_path.h"
#include "base/result_macros.h"

namespace {

constexpr char kTypeLibExtension[] = ".tlb";
constexpr char kAutomationRuntime[] = "oleaut32.dll";
constexpr char kUnregisterEntry[] = "UnRegisterTypeLib";

typedef HRESULT(STDAPICALLTYPE* UnregisterTypeLibFunction)(REFGUID, WORD, WORD,
                                                           LCID, SYSKIND);

HRESULT LoadFromAnsiName(const char* name, OLECHAR (&wide)[kModulePathCapacity],
                         ITypeLib** typeLib) {
  RETURN_HR_IF(LastErrorStatus(),
               MultiByteToWideChar(CP_ACP, /*dwFlags=*/0, name, -1, wide,
                                   kModulePathCapacity) == 0);
  return LoadTypeLib(wide, typeLib);
}

bool IsSeparator(OLECHAR c) { return c == '\\' || c == '/' || c == ':'; }

}  // namespace

bool SiblingTypeLibName(const char* moduleName, char* name, size_t capacity) {
  // Only a dot in the file's own name starts an extension: a dot in a folder
  // name above it does not.
  const char* end = moduleName;
  const char* dot = nullptr;
  while (*end != '\0') {
    if (*end == '.') dot = end;
    if (*end == '\\' || *end == '/') dot = nullptr;
    end = CharNextA(end);
  }
  const size_t stem =
      static_cast<size_t>((dot != nullptr ? dot : end) - moduleName);
  if (stem + sizeof(kTypeLibExtension) > capacity) return false;
  memcpy(name, moduleName, stem);
  memcpy(name + stem, kTypeLibExtension, sizeof(kTypeLibExtension));
  return true;
}

void HelpDirectoryOf(LPCOLESTR path, LPOLESTR directory, size_t capacity) {
  size_t cut = 0;
  size_t length = 0;
  for (; path[length] != 0; ++length) {
    if (IsSeparator(path[length])) cut = length + 1;
  }
  if (cut >= capacity) cut = 0;
  for (size_t i = 0; i < cut; ++i) directory[i] = path[i];
  directory[cut] = 0;
}

HRESULT LoadModuleTypeLib(HMODULE module, BSTR* path, ITypeLib** typeLib) {
  RETURN_HR_IF(E_POINTER, path == nullptr || typeLib == nullptr);
  *path = nullptr;
  *typeLib = nullptr;

  char moduleName[kModulePathCapacity];
  RETURN_IF_FAILED(GetModulePath(module, moduleName));
  OLECHAR widePath[kModulePathCapacity];
  ComPtr<ITypeLib> loaded;
  HRESULT hr = LoadFromAnsiName(moduleName, widePath, loaded.put());
  if (FAILED(hr)) {
    char siblingName[kModulePathCapacity];
    RETURN_HR_IF(
        HResultFromWin32(ERROR_FILENAME_EXCED_RANGE),
        !SiblingTypeLibName(moduleName, siblingName, sizeof(siblingName)));
    hr = LoadFromAnsiName(siblingName, widePath, loaded.put());
    RETURN_IF_FAILED(hr);
  }
  BSTR loadedPath = SysAllocString(widePath);
  RETURN_IF_NULL_ALLOC(loadedPath);
  *path = loadedPath;
  *typeLib = loaded.detach();
  return hr;
}

HRESULT RegisterModuleTypeLib(HMODULE module) {
  BSTR path = nullptr;
  ComPtr<ITypeLib> typeLib;
  HRESULT hr = LoadModuleTypeLib(module, &path, typeLib.put());
  if (SUCCEEDED(hr)) {
    OLECHAR helpDirectory[kModulePathCapacity];
    HelpDirectoryOf(path, helpDirectory, kModulePathCapacity);
    hr = RegisterTypeLib(typeLib.get(), path, helpDirectory);
  }
  SysFreeString(path);
  return hr;
}

HRESULT UnregisterModuleTypeLib(HMODULE module) {
  BSTR path = nullptr;
  ComPtr<ITypeLib> typeLib;
  const HRESULT hr = LoadModuleTypeLib(module, &path, typeLib.put());
  TLIBATTR* attributes = nullptr;
  if (SUCCEEDED(hr) && SUCCEEDED(typeLib->GetLibAttr(&attributes))) {
    // Looked up by name, so that a runtime without it unregisters nothing
    // and reports no error.
    UniqueLibrary runtime(LoadLibraryA(kAutomationRuntime));
    if (runtime) {
      auto unregister = reinterpret_cast<UnregisterTypeLibFunction>(
          reinterpret_cast<void (*)()>(
              GetProcAddress(runtime.get(), kUnregisterEntry)));
      if (unregister != nullptr) {
        unregister(attributes->guid, attributes->wMajorVerNum,
                   attributes->wMinorVerNum, attributes->lcid,
                   attributes->syskind);
      }
    }
    typeLib->ReleaseTLibAttr(attributes);
  }
  SysFreeString(path);
  return hr;
}
