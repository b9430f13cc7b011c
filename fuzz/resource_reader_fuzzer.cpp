// libFuzzer target for the module resource reader: arbitrary bytes read as
// a module file (PE image or ELF file, told by the first bytes) and, on
// their own, as a compiled resource file. Besides the sanitizers' checks,
// every read must end with a known status, and on success every entry and
// every string name must lie inside the bytes read.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "byte_source.h"
#include "resource_set.h"

namespace {

using qxplatform::internal::MemorySource;
using qxplatform::internal::ResourceName;
using qxplatform::internal::ResourceSet;

void Check(bool condition) {
  if (!condition) abort();
}

bool Inside(const ResourceSet& set, size_t offset, size_t count) {
  return offset <= set.bytes.size() && count <= set.bytes.size() - offset;
}

void CheckName(const ResourceSet& set, const ResourceName& name) {
  if (!name.isString) return;
  Check(Inside(set, name.offset, 2 * name.length));
  for (size_t index = 0; index < name.length; ++index)
    (void)qxplatform::internal::NameUnit(set, name, index);
}

// Every entry is inside; its data is read through, so that a wrong
// offset shows up under the address sanitizer as well.
void CheckSet(const ResourceSet& set) {
  unsigned sum = 0;
  for (const auto& entry : set.entries) {
    Check(Inside(set, entry.offset, entry.size));
    CheckName(set, entry.type);
    CheckName(set, entry.name);
    for (DWORD index = 0; index < entry.size; ++index)
      sum += set.bytes[entry.offset + index];
  }
  volatile unsigned keep = sum;
  (void)keep;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResourceSet file;
  const DWORD status =
      qxplatform::internal::ReadResourceSet(MemorySource(data, size), &file);
  Check(status == ERROR_SUCCESS || status == ERROR_BAD_EXE_FORMAT ||
        status == ERROR_RESOURCE_DATA_NOT_FOUND);
  if (status == ERROR_SUCCESS) CheckSet(file);

  ResourceSet res;
  res.bytes.assign(data, data + size);
  const DWORD resStatus = qxplatform::internal::IndexResFile(&res);
  Check(resStatus == ERROR_SUCCESS || resStatus == ERROR_BAD_EXE_FORMAT);
  if (resStatus == ERROR_SUCCESS) CheckSet(res);
  return 0;
}
