// The compiled resource file (.res) format, as carried in the .rsrc section
// of a native library: a run of records, each a header (data size, header
// size, type, name, then DWORD-aligned the version, flags, language and
// characteristics) followed by its data, the next record starting at the
// next DWORD boundary. The first record is an empty marker that tells a
// 32-bit resource file from a 16-bit one.
#include <algorithm>

#include "resource_set.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr size_t kSizesLength = 8;     // DataSize, HeaderSize
constexpr size_t kTrailerLength = 16;  // DataVersion .. Characteristics
constexpr size_t kMinimumHeader = kSizesLength + 4 + 4 + kTrailerLength;
constexpr WORD kIdMarker = 0xFFFF;

size_t AlignToDword(size_t offset) { return (offset + 3) & ~size_t{3}; }

// Reads a type or name field at *position, which must end by limit, and
// moves *position past it.
bool ReadNameField(const std::vector<BYTE>& bytes, size_t limit,
                   size_t* position, ResourceName* name) {
  size_t at = *position;
  if (limit - at < 2) return false;
  if (ReadWord(&bytes[at]) == kIdMarker) {
    if (limit - at < 4) return false;
    name->isString = false;
    name->id = ReadWord(&bytes[at + 2]);
    *position = at + 4;
    return true;
  }
  name->isString = true;
  name->offset = at;
  for (size_t unit = at; limit - unit >= 2; unit += 2) {
    if (ReadWord(&bytes[unit]) == 0) {
      name->length = (unit - at) / 2;
      *position = unit + 2;
      return true;
    }
  }
  return false;  // no terminator inside the header
}

bool IsEmptyMarker(const ResourceEntry& entry) {
  return entry.size == 0 && !entry.type.isString && entry.type.id == 0 &&
         !entry.name.isString && entry.name.id == 0;
}

}  // namespace

DWORD IndexResFile(ResourceSet* set) {
  const std::vector<BYTE>& bytes = set->bytes;
  const size_t size = bytes.size();
  size_t offset = 0;
  bool first = true;
  while (offset < size) {
    if (size - offset < kMinimumHeader) return ERROR_BAD_EXE_FORMAT;
    const DWORD dataSize = ReadDword(&bytes[offset]);
    const DWORD headerSize = ReadDword(&bytes[offset + 4]);
    // A header shorter than its fixed fields would not move the walk on.
    if (headerSize < kMinimumHeader || headerSize > size - offset)
      return ERROR_BAD_EXE_FORMAT;
    const size_t headerEnd = offset + headerSize;
    if (dataSize > size - headerEnd) return ERROR_BAD_EXE_FORMAT;

    ResourceEntry entry;
    size_t position = offset + kSizesLength;
    if (!ReadNameField(bytes, headerEnd, &position, &entry.type) ||
        !ReadNameField(bytes, headerEnd, &position, &entry.name))
      return ERROR_BAD_EXE_FORMAT;
    position = AlignToDword(position);
    if (position > headerEnd || headerEnd - position < kTrailerLength)
      return ERROR_BAD_EXE_FORMAT;
    entry.offset = headerEnd;
    entry.size = dataSize;

    if (first) {
      if (!IsEmptyMarker(entry) || headerSize != kMinimumHeader)
        return ERROR_BAD_EXE_FORMAT;
      first = false;
    } else {
      set->entries.push_back(entry);
    }
    // The last record's data need not be padded out to the boundary.
    offset = std::min(AlignToDword(headerEnd + dataSize), size);
  }
  return first ? ERROR_BAD_EXE_FORMAT : ERROR_SUCCESS;
}

}  // namespace internal
}  // namespace qxplatform
