// Shared between the COM runtime's source files: what initialisation,
// class registration and the table of loaded servers offer one another.
#pragma once
#include <objbase.h>

#include <string>

#include "platform_internal.h"

namespace qxplatform {
namespace internal {

// True when the calling thread may activate classes: it has initialised COM,
// or some thread of the process holds the multithreaded apartment open.
bool ComUsableOnThisThread();

// Frees every library the runtime loaded for a class, without asking them;
// the last uninitialisation of the process does this.
void FreeAllClassLibraries();

// Loads the in-process server at path (kept in the table of loaded servers)
// and asks its DllGetClassObject for the class object.
HRESULT GetClassObjectFromLibrary(const std::string& path, REFCLSID clsid,
                                  REFIID iid, void** out);

enum class RegistryString { kFound, kMissing, kNotAString };
// The default value of HKEY_CLASSES_ROOT\path when it is a non-empty REG_SZ
// (up to its first zero), in the ANSI code page.
RegistryString ReadClassesRootString(const std::string& path,
                                     std::string* value);
// The same for an entry of the class key CLSID\{clsid}\subkey, as COM
// reports it: REGDB_E_CLASSNOTREG when it is missing, REGDB_E_READREGDB
// when it is not a string.
HRESULT ReadClassEntry(REFCLSID clsid, const char* subkey, std::string* value);

}  // namespace internal
}  // namespace qxplatform
