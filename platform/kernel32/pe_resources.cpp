// Resources of a PE image, read from the file: the resource data directory
// gives the RVA of the root of a three-level tree (type, name, language)
// inside one section, which is read whole. Each name keeps the data of its
// first language. The tree is walked once; a directory reached twice (a
// loop, or two parents sharing a child) or more entries than the section
// could hold make the file damaged, which bounds the work by its size.
#include <unordered_set>

#include "pe_format.h"
#include "resource_set.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr size_t kDirectoryLength = 16;
constexpr size_t kDirectoryEntryLength = 8;
constexpr size_t kDataEntryLength = 16;
constexpr DWORD kHighBit = 0x80000000;

struct SectionSpan {
  DWORD virtualAddress = 0;
  DWORD rawSize = 0;
  DWORD rawOffset = 0;
};

// The RVA and size of the resource directory; false when the image has
// none.
bool ResourceDirectory(const std::vector<BYTE>& optional, DWORD* rva,
                       DWORD* size) {
  if (optional.size() < 2) return false;
  const WORD magic = ReadWord(optional.data());
  size_t countField, directories;
  if (magic == kPe32Magic) {
    countField = kPe32DirectoryCountField;
    directories = kPe32DirectoriesOffset;
  } else if (magic == kPe64Magic) {
    countField = kPe64DirectoryCountField;
    directories = kPe64DirectoriesOffset;
  } else {
    return false;
  }
  const size_t entry =
      directories + kResourceDirectoryIndex * kDataDirectoryLength;
  if (optional.size() < entry + kDataDirectoryLength ||
      ReadDword(&optional[countField]) <= kResourceDirectoryIndex)
    return false;
  *rva = ReadDword(&optional[entry]);
  *size = ReadDword(&optional[entry + 4]);
  return *rva != 0 && *size != 0;
}

class TreeReader {
 public:
  TreeReader(ResourceSet* set, size_t root, DWORD sectionAddress)
      : m_set(set),
        m_bytes(set->bytes),
        m_root(root),
        m_sectionAddress(sectionAddress),
        m_entryBudget(set->bytes.size() / kDirectoryEntryLength) {}

  DWORD Read() {
    ResourceEntry entry;
    return Directory(m_root, /*level=*/0, &entry);
  }

 private:
  // Reads the directory at offset (relative to the set's bytes) on the
  // given level: 0 types, 1 names, 2 languages. entry carries what the
  // levels above have filled in.
  DWORD Directory(size_t offset, int level, ResourceEntry* entry) {
    if (!m_visited.insert(offset).second) return ERROR_BAD_EXE_FORMAT;
    if (!Holds(offset, kDirectoryLength)) return ERROR_BAD_EXE_FORMAT;
    const size_t count = size_t{ReadWord(&m_bytes[offset + 12])} +
                         ReadWord(&m_bytes[offset + 14]);
    if (count > m_entryBudget) return ERROR_BAD_EXE_FORMAT;
    m_entryBudget -= count;
    const size_t first = offset + kDirectoryLength;
    if (!Holds(first, count * kDirectoryEntryLength))
      return ERROR_BAD_EXE_FORMAT;
    // A name without any language has no data to offer; it is left out.
    const size_t used = level == 2 && count > 0 ? 1 : count;
    for (size_t index = 0; index < used; ++index) {
      const BYTE* item = &m_bytes[first + index * kDirectoryEntryLength];
      const DWORD name = ReadDword(item);
      const DWORD target = ReadDword(item + 4);
      const bool isDirectory = (target & kHighBit) != 0;
      if (isDirectory != (level < 2)) return ERROR_BAD_EXE_FORMAT;
      const size_t targetOffset = m_root + (target & ~kHighBit);
      if (level == 2) return Data(targetOffset, entry);
      ResourceName* field = level == 0 ? &entry->type : &entry->name;
      if (!Name(name, field)) return ERROR_BAD_EXE_FORMAT;
      const DWORD status = Directory(targetOffset, level + 1, entry);
      if (status != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
  }

  bool Name(DWORD value, ResourceName* name) {
    if ((value & kHighBit) == 0) {
      name->isString = false;
      name->id = static_cast<WORD>(value);
      return true;
    }
    const size_t offset = m_root + (value & ~kHighBit);
    if (!Holds(offset, 2)) return false;
    const size_t length = ReadWord(&m_bytes[offset]);
    if (!Holds(offset + 2, 2 * length)) return false;
    name->isString = true;
    name->offset = offset + 2;
    name->length = length;
    return true;
  }

  DWORD Data(size_t offset, ResourceEntry* entry) {
    if (!Holds(offset, kDataEntryLength)) return ERROR_BAD_EXE_FORMAT;
    const DWORD rva = ReadDword(&m_bytes[offset]);
    const DWORD size = ReadDword(&m_bytes[offset + 4]);
    // Resource data lives in the resource section; anywhere else it would
    // have to be read from another section of the file.
    if (rva < m_sectionAddress || !Holds(rva - m_sectionAddress, size))
      return ERROR_BAD_EXE_FORMAT;
    entry->offset = rva - m_sectionAddress;
    entry->size = size;
    m_set->entries.push_back(*entry);
    return ERROR_SUCCESS;
  }

  bool Holds(size_t offset, size_t count) const {
    return offset <= m_bytes.size() && count <= m_bytes.size() - offset;
  }

  ResourceSet* m_set;
  const std::vector<BYTE>& m_bytes;
  size_t m_root;
  DWORD m_sectionAddress;
  size_t m_entryBudget;
  std::unordered_set<size_t> m_visited;
};

}  // namespace

DWORD ReadPeResources(const ByteSource& file, ResourceSet* set) {
  BYTE dos[kDosHeaderLength];
  if (!file.Read(0, sizeof(dos), dos) || dos[0] != 'M' || dos[1] != 'Z')
    return ERROR_BAD_EXE_FORMAT;
  const uint64_t peOffset = ReadDword(dos + kNewHeaderOffsetField);
  BYTE signature[4 + kFileHeaderLength];
  if (!file.Read(peOffset, sizeof(signature), signature) ||
      ReadDword(signature) != 0x00004550)  // "PE\0\0"
    return ERROR_BAD_EXE_FORMAT;
  const BYTE* fileHeader = signature + 4;
  const WORD sectionCount = ReadWord(fileHeader + 2);
  const WORD optionalLength = ReadWord(fileHeader + 16);
  const uint64_t optionalOffset = peOffset + sizeof(signature);
  std::vector<BYTE> optional;
  if (!file.ReadBlock(optionalOffset, optionalLength, &optional))
    return ERROR_BAD_EXE_FORMAT;
  DWORD rva = 0, size = 0;
  if (!ResourceDirectory(optional, &rva, &size))
    return ERROR_RESOURCE_DATA_NOT_FOUND;

  std::vector<BYTE> sections;
  if (!file.ReadBlock(optionalOffset + optionalLength,
                      uint64_t{sectionCount} * kSectionHeaderLength, &sections))
    return ERROR_BAD_EXE_FORMAT;
  for (WORD index = 0; index < sectionCount; ++index) {
    const BYTE* header = &sections[index * kSectionHeaderLength];
    SectionSpan span;
    span.virtualAddress = ReadDword(header + 12);
    span.rawSize = ReadDword(header + 16);
    span.rawOffset = ReadDword(header + 20);
    const DWORD virtualSize = ReadDword(header + 8);
    if (rva < span.virtualAddress || rva - span.virtualAddress >= span.rawSize)
      continue;
    if (!file.ReadBlock(span.rawOffset, span.rawSize, &set->bytes))
      return ERROR_BAD_EXE_FORMAT;
    TreeReader reader(set, rva - span.virtualAddress, span.virtualAddress);
    const DWORD status = reader.Read();
    if (status != ERROR_SUCCESS) {
      set->entries.clear();
      return status;
    }
    // A mapped section holds its raw data up to its virtual size (a size
    // of 0 means the raw size); past that it is zeros.
    set->sectionAddress = span.virtualAddress;
    set->sectionMappedSize =
        virtualSize != 0 && virtualSize < span.rawSize ? virtualSize
                                                       : span.rawSize;
    return status;
  }
  return ERROR_BAD_EXE_FORMAT;  // the directory lies in no section
}

}  // namespace internal
}  // namespace qxplatform
