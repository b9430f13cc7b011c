// Windows's rule for a library name's extension (library_names.h). Only the
// file part counts: a dot in a folder's name is no extension. Folders end
// at '/', as everywhere in the loader; a backslash is not looked for, since
// in code page 932 it is also the second byte of some characters.
#include "library_names.h"

namespace qxplatform {
namespace internal {

std::string LibraryFileName(const std::string& name) {
  const size_t fileStart = name.rfind('/');
  const size_t dot = name.rfind('.');
  const bool hasDot = dot != std::string::npos &&
                      (fileStart == std::string::npos || dot > fileStart);
  if (!hasDot) return name + ".dll";
  if (dot + 1 == name.size()) return name.substr(0, dot);
  return name;
}

}  // namespace internal
}  // namespace qxplatform
