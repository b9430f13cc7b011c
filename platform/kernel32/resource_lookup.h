// Finding a resource in a module's resource set by the type and name a
// caller passes to FindResourceA.
#pragma once
#include <windows.h>

#include "resource_set.h"

namespace qxplatform {
namespace internal {

// The entry of the given type and name: each an integer id made with
// MAKEINTRESOURCEA, "#" and a decimal id, or a string in the ANSI code
// page compared without regard to case. Null, with *error
// ERROR_RESOURCE_TYPE_NOT_FOUND or ERROR_RESOURCE_NAME_NOT_FOUND, when
// there is none.
const ResourceEntry* FindResourceEntry(const ResourceSet& set, LPCSTR type,
                                       LPCSTR name, DWORD* error);

}  // namespace internal
}  // namespace qxplatform
