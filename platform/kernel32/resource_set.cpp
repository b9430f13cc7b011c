// Which kind of module file this is, told by its first bytes.
#include "resource_set.h"

#include <string.h>
#include "pe_format.h"

namespace qxplatform {
namespace internal {

DWORD ReadResourceSet(const ByteSource& file, ResourceSet* set) {
  BYTE magic[4];
  if (!file.Read(0, sizeof(magic), magic)) return ERROR_BAD_EXE_FORMAT;
  *set = ResourceSet();
  if (StartsLikeDosHeader(magic, sizeof(magic)))
    return ReadPeResources(file, set);
  if (memcmp(magic,
             "\x7f"
             "ELF",
             4) == 0)
    return ReadElfResources(file, set);
  return ERROR_BAD_EXE_FORMAT;
}

}  // namespace internal
}  // namespace qxplatform
