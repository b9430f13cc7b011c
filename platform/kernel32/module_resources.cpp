// Resources read straight out of a module file, for callers that have a
// path rather than a loaded module (LoadTypeLib on a library file).
#include "module_resources.h"

#include "byte_source.h"
#include "resource_lookup.h"
#include "resource_set.h"

namespace qxplatform {
namespace internal {

bool ReadFileResource(const std::string& path, LPCSTR type, LPCSTR name,
                      std::vector<BYTE>* data, DWORD* error) {
  FileSource file;
  DWORD status = file.Open(path);
  ResourceSet set;
  if (status == ERROR_SUCCESS) status = ReadResourceSet(file, &set);
  if (status != ERROR_SUCCESS) {
    *error = status;
    return false;
  }
  const ResourceEntry* entry = FindResourceEntry(set, type, name, error);
  if (entry == nullptr) return false;
  const BYTE* first = set.bytes.data() + entry->offset;
  data->assign(first, first + entry->size);
  return true;
}

}  // namespace internal
}  // namespace qxplatform
