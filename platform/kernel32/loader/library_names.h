// The name LoadLibrary and GetModuleHandle look for, from the name a caller
// gives: Windows's rule for a library name's extension.
#pragma once

#include <string>

namespace qxplatform {
namespace internal {

// A name whose file part has no extension gets ".dll"; one ending in "."
// loses that dot and gets nothing (it names a file without an extension);
// one with any extension is used as it is.
std::string LibraryFileName(const std::string& name);

}  // namespace internal
}  // namespace qxplatform
