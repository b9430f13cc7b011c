// The resources of each loaded module, read from its file on the first
// lookup and kept until the loader releases the module, so that resource
// handles and data stay valid exactly as long as the module. The data of a
// Windows image loaded as code is its mapped bytes, as on Windows, where
// LockResource points into the image; a data file, a native library and
// anything the mapping does not hold are served from the copy read here.
// Everything here runs under the loader lock, which orders it with loads
// and frees.
#pragma once
#include <windows.h>

#include "resource_set.h"

namespace qxplatform {
namespace internal {

struct ModuleResources {
  DWORD status = ERROR_SUCCESS;  // of reading the file; kept, not retried
  ResourceSet set;
  std::vector<size_t> dataOffsets;  // sorted, for telling data handles
  // Where set.bytes lie in the module's mapped image; null when the module
  // is not a mapped Windows image.
  const BYTE* mapped = nullptr;
};

// The data of an entry of resources: in the mapped image where the mapping
// holds all of it, else in the copy.
const BYTE* ResourceData(const ModuleResources& resources,
                         const ResourceEntry& entry);

// The resources of a loaded module (null: the executable), read now if
// they have not been; null with *error ERROR_MOD_NOT_FOUND when the handle
// names no loaded module.
const ModuleResources* ResourcesOfModule(HMODULE module, DWORD* error);

// The resources of a module whose handle was given by FindResourceA, or
// null when its resources have never been read (or were released).
const ModuleResources* CachedResources(HMODULE module);

// Whether data is the start of the data of one of the entries of a module
// whose resources are held.
bool IsHeldResourceData(const void* data);

}  // namespace internal
}  // namespace qxplatform
