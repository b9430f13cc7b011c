// Resources read straight out of a module file. Not provided yet: every
// file reports that it has no resource of the type asked for.
#include "module_resources.h"

namespace qxplatform {
namespace internal {

bool ReadFileResource(const std::string& /*path*/, LPCSTR /*type*/,
                      LPCSTR /*name*/, std::vector<BYTE>* /*data*/,
                      DWORD* error) {
  *error = ERROR_RESOURCE_TYPE_NOT_FOUND;
  return false;
}

}  // namespace internal
}  // namespace qxplatform
