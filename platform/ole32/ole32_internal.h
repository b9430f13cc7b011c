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

// Reads the braced 8-4-4-4-12 form, exactly and nothing else; false leaves
// *guid as it was.
bool ParseGuidText(LPCOLESTR text, GUID* guid);

enum class RegistryString { kFound, kMissing, kNotAString };
// Which value types count as a string: REG_SZ alone, or REG_EXPAND_SZ too,
// expanded from the environment.
enum class StringKinds { kPlainOnly, kExpandable };
// The default value of HKEY_CLASSES_ROOT\path when it is a non-empty string
// of a kind taken (up to its first zero), in the ANSI code page.
RegistryString ReadClassesRootString(
    const std::string& path, std::string* value,
    StringKinds kinds = StringKinds::kPlainOnly);
// The same for an entry of the class key CLSID\{clsid}\subkey, as COM
// reports it: REGDB_E_CLASSNOTREG when it is missing, REGDB_E_READREGDB
// when it is not a string.
HRESULT ReadClassEntry(REFCLSID clsid, const char* subkey, std::string* value,
                       StringKinds kinds = StringKinds::kPlainOnly);

}  // namespace internal
}  // namespace qxplatform
