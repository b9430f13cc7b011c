// ApplyScriptResource: the module's file name, its script resource loaded
// from the file as data, and one run of the script.
#include "registrar/script_resource.h"

#include <objbase.h>
#include <string.h>

#include "base/holders.h"
#include "base/last_error.h"
#include "base/module_path.h"
#include "base/result_macros.h"
#include "registrar/script_runner.h"

namespace {

constexpr OLECHAR kModuleVariable[] = {'M', 'o', 'd', 'u', 'l', 'e', 0};

// The resource's bytes and a zero, in a task allocator block.
HRESULT LoadScriptText(HMODULE dataFile, UINT resourceId, UniqueTaskMem* text) {
  HRSRC resource = FindResourceA(dataFile, MAKEINTRESOURCEA(resourceId),
                                 kRegistryResourceType);
  RETURN_HR_IF(LastErrorStatus(), resource == nullptr);
  HGLOBAL loaded = LoadResource(dataFile, resource);
  RETURN_HR_IF(LastErrorStatus(), loaded == nullptr);
  const DWORD size = SizeofResource(dataFile, resource);
  const void* bytes = LockResource(loaded);
  RETURN_HR_IF(LastErrorStatus(), bytes == nullptr && size != 0);
  char* copy =
      static_cast<char*>(CoTaskMemAlloc(static_cast<SIZE_T>(size) + 1));
  RETURN_IF_NULL_ALLOC(copy);
  if (size != 0) memcpy(copy, bytes, size);
  copy[size] = '\0';
  text->reset(copy);
  return S_OK;
}

}  // namespace

void DoubleSingleQuotes(LPCOLESTR text, LPOLESTR quoted) {
  for (; *text != 0; ++text) {
    *quoted++ = *text;
    if (*text == '\'') *quoted++ = '\'';
  }
  *quoted = 0;
}

HRESULT ApplyScriptResource(HMODULE module, const Allocator& allocator,
                            UINT resourceId, BOOL doRegister,
                            const RegistrationStep* then) {
  char path[kModulePathCapacity];
  RETURN_IF_FAILED(GetModulePath(module, path));

  OLECHAR widePath[kModulePathCapacity];
  RETURN_HR_IF(LastErrorStatus(),
               MultiByteToWideChar(CP_ACP, /*dwFlags=*/0, path, -1, widePath,
                                   kModulePathCapacity) == 0);
  OLECHAR quotedPath[2 * kModulePathCapacity + 1];
  DoubleSingleQuotes(widePath, quotedPath);

  // The script is read from the file as data, as the file stands on disk.
  char dataFileName[2 * kModulePathCapacity];
  RETURN_HR_IF(LastErrorStatus(),
               WideCharToMultiByte(CP_ACP, /*dwFlags=*/0, widePath, -1,
                                   dataFileName, sizeof(dataFileName),
                                   /*lpDefaultChar=*/nullptr,
                                   /*lpUsedDefaultChar=*/nullptr) == 0);
  UniqueLibrary dataFile(LoadLibraryExA(dataFileName, /*hFile=*/nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE));
  RETURN_HR_IF(LastErrorStatus(), !dataFile);
  UniqueTaskMem text;
  RETURN_IF_FAILED(LoadScriptText(dataFile.get(), resourceId, &text));

  const LPCOLESTR names[] = {kModuleVariable};
  const LPCOLESTR values[] = {quotedPath};
  return RunScriptWithVariables(allocator, static_cast<const char*>(text.get()),
                                names, values, 1, doRegister, then);
}
