// The type library a module carries as resource TYPELIB 1, or in a ".tlb"
// file beside it when the module itself cannot be loaded as one: loading
// it, and registering or unregistering it with the automation runtime.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

// Loads the module's type library. On success *path is a BSTR of the file
// that loaded and *typeLib its library, both the caller's; on failure both
// are null. A module file name too long to load is refused with
// HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE); a step of the platform's
// that fails without saying why gives E_FAIL.
HRESULT LoadModuleTypeLib(HMODULE module, BSTR* path, ITypeLib** typeLib);

// Registers the module's type library with the folder it was loaded from as
// its help directory.
HRESULT RegisterModuleTypeLib(HMODULE module);

// Unregisters it through the runtime's UnRegisterTypeLib, looked up at run
// time; that step's outcome is not looked at. Returns the load status.
HRESULT UnregisterModuleTypeLib(HMODULE module);

// The name of the ".tlb" file beside a module: its extension replaced, or
// ".tlb" appended when its file name has none. name holds at least
// capacity bytes; false when the result would not fit (name untouched).
bool SiblingTypeLibName(const char* moduleName, char* name, size_t capacity);

// The help directory for a type library at path: the path cut just after
// its last separator ("\", "/" or ":"), or empty when it has none.
void HelpDirectoryOf(LPCOLESTR path, LPOLESTR directory, size_t capacity);
