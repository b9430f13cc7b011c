// The resources of a module file, read once into memory: the bytes of its
// resource section and an index of every (type, name) in it, each with the
// data of its first language. Entries refer into the bytes by offset, so a
// file whose entries share strings or data costs no more memory than its
// section.
#pragma once
#include <stddef.h>
#include <windows.h>

#include <vector>

#include "byte_source.h"

namespace qxplatform {
namespace internal {

// A type or a name as the file stores it: an integer id, or a UTF-16
// string of length units at offset in the set's bytes.
struct ResourceName {
  bool isString = false;
  WORD id = 0;
  size_t offset = 0;
  size_t length = 0;
};

struct ResourceEntry {
  ResourceName type;
  ResourceName name;
  size_t offset = 0;  // of the data, in the set's bytes
  DWORD size = 0;
};

struct ResourceSet {
  std::vector<BYTE> bytes;
  std::vector<ResourceEntry> entries;  // in file order
  // A PE image's bytes are its resource section's: where the section lies
  // in the image once mapped (RVA), and how much of it is mapped from the
  // file. Both 0 for any other kind of file.
  DWORD sectionAddress = 0;
  DWORD sectionMappedSize = 0;
};

// Reads the resources of a PE image or of an ELF file carrying a compiled
// resource file in its .rsrc section. ERROR_SUCCESS; else
// ERROR_RESOURCE_DATA_NOT_FOUND when the file has no resources at all,
// ERROR_BAD_EXE_FORMAT when it is neither kind or is damaged anywhere the
// resources are reached through. Every entry of a successful read lies
// inside bytes, its strings included.
DWORD ReadResourceSet(const ByteSource& file, ResourceSet* set);

// The parts, each with the same results.
DWORD ReadPeResources(const ByteSource& file, ResourceSet* set);
DWORD ReadElfResources(const ByteSource& file, ResourceSet* set);
// A compiled resource file (.res) held in set->bytes; fills set->entries.
DWORD IndexResFile(ResourceSet* set);

// The unit at index of a string name (index < name.length).
inline char16_t NameUnit(const ResourceSet& set, const ResourceName& name,
                         size_t index) {
  return static_cast<char16_t>(ReadWord(&set.bytes[name.offset + 2 * index]));
}

}  // namespace internal
}  // namespace qxplatform
