// The libraries a module holds loaded for itself (for its imports, or for
// the forwarders of its exports): one reference each, however often it
// asks, and none to itself, which would keep it loaded for ever.
#pragma once
#include <windows.h>

#include <algorithm>
#include <vector>

namespace qxplatform {
namespace internal {

// Takes over the reference a LoadLibraryA of library just gave self: kept
// in held when it is the first, given back at once otherwise.
inline void HoldLibrary(HMODULE self, HMODULE library,
                        std::vector<HMODULE>* held) {
  if (library == self ||
      std::find(held->begin(), held->end(), library) != held->end())
    FreeLibrary(library);
  else
    held->push_back(library);
}

// Gives back every reference held, the last taken first.
inline void ReleaseLibraries(const std::vector<HMODULE>& held) {
  for (auto it = held.rbegin(); it != held.rend(); ++it) FreeLibrary(*it);
}

}  // namespace internal
}  // namespace qxplatform
