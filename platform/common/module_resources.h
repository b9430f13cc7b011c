// Reading a resource straight out of a module file, whichever kind it is: a
// PE image (its resource section) or a native library carrying a compiled
// resource file in its .rsrc section. The loader's resource functions and
// the automation runtime's LoadTypeLib both read resources this way.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qxplatform {
namespace internal {

// The bytes of the resource of the given type and name (each an integer id
// made with MAKEINTRESOURCEA, or a string matched without regard to case)
// in the file at path. On failure false, with *error the Win32 error that
// FindResourceA reports for it (ERROR_RESOURCE_TYPE_NOT_FOUND,
// ERROR_RESOURCE_NAME_NOT_FOUND, ERROR_FILE_NOT_FOUND,
// ERROR_BAD_EXE_FORMAT, ...); data is then untouched.
bool ReadFileResource(const std::string& path, LPCSTR type, LPCSTR name,
                      std::vector<BYTE>* data, DWORD* error);

}  // namespace internal
}  // namespace qxplatform
