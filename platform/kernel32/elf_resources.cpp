// Resources of a native library: the compiled resource file the build puts
// in its non-allocated ".rsrc" section. Only the section headers and their
// name table are read to find it; 32- and 64-bit little-endian files.
#include <string.h>

#include "resource_set.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr char kSectionName[] = ".rsrc";  // compared with its terminator
constexpr size_t kIdentLength = 16;
constexpr BYTE kClass32 = 1;
constexpr BYTE kClass64 = 2;
constexpr BYTE kLittleEndian = 1;
constexpr DWORD kNoBits = 8;             // SHT_NOBITS: no bytes in the file
constexpr WORD kExtendedIndex = 0xFFFF;  // SHN_XINDEX

// Where the fields sit in the two classes.
struct Layout {
  size_t headerLength;
  size_t sectionTableOffset, entrySizeOffset, countOffset, namesIndexOffset;
  size_t sectionLength;
  size_t typeOffset, fileOffsetOffset, sizeOffset, linkOffset;
  bool wide;  // 64-bit addresses and sizes
};
constexpr Layout kElf32 = {52,   0x20, 0x2E, 0x30, 0x32, 40,
                           0x04, 0x10, 0x14, 0x18, false};
constexpr Layout kElf64 = {64,   0x28, 0x3A, 0x3C, 0x3E, 64,
                           0x04, 0x18, 0x20, 0x28, true};

struct Section {
  DWORD name = 0;
  DWORD type = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  DWORD link = 0;
};

uint64_t ReadAddress(const Layout& layout, const BYTE* p) {
  return layout.wide ? ReadQword(p) : ReadDword(p);
}

class SectionTable {
 public:
  SectionTable(const ByteSource& file, const Layout& layout)
      : m_file(file), m_layout(layout) {}

  // Reads the table's place and size out of the file header; false when
  // it does not fit in the file.
  bool Locate(const BYTE* header, bool* empty) {
    m_offset = ReadAddress(m_layout, header + m_layout.sectionTableOffset);
    m_entrySize = ReadWord(header + m_layout.entrySizeOffset);
    m_count = ReadWord(header + m_layout.countOffset);
    m_namesIndex = ReadWord(header + m_layout.namesIndexOffset);
    *empty = m_offset == 0;
    if (*empty) return true;
    if (m_entrySize < m_layout.sectionLength || m_offset > m_file.Size())
      return false;
    // Past 0xFF00 sections the count and the name table's index live in
    // the first section header.
    Section zero;
    if (!Read(0, &zero)) return false;
    if (m_count == 0) m_count = zero.size;
    if (m_namesIndex == kExtendedIndex) m_namesIndex = zero.link;
    return m_count <= (m_file.Size() - m_offset) / m_entrySize;
  }

  uint64_t Count() const { return m_count; }
  uint64_t NamesIndex() const { return m_namesIndex; }

  bool Read(uint64_t index, Section* section) const {
    BYTE entry[64];
    if (index >= (m_file.Size() - m_offset) / m_entrySize ||
        !m_file.Read(m_offset + index * m_entrySize, m_layout.sectionLength,
                     entry))
      return false;
    section->name = ReadDword(entry);
    section->type = ReadDword(entry + m_layout.typeOffset);
    section->offset = ReadAddress(m_layout, entry + m_layout.fileOffsetOffset);
    section->size = ReadAddress(m_layout, entry + m_layout.sizeOffset);
    section->link = ReadDword(entry + m_layout.linkOffset);
    return true;
  }

 private:
  const ByteSource& m_file;
  const Layout& m_layout;
  uint64_t m_offset = 0;
  uint64_t m_entrySize = 0;
  uint64_t m_count = 0;
  uint64_t m_namesIndex = 0;
};

// Whether the name at offset in the name table is the resource section's.
bool IsResourceSectionName(const ByteSource& file, const Section& names,
                           DWORD offset) {
  if (offset >= names.size || names.size - offset < sizeof(kSectionName))
    return false;
  char found[sizeof(kSectionName)];
  return file.Read(names.offset + offset, sizeof(found), found) &&
         memcmp(found, kSectionName, sizeof(found)) == 0;
}

}  // namespace

DWORD ReadElfResources(const ByteSource& file, ResourceSet* set) {
  BYTE header[64];
  if (!file.Read(0, kIdentLength, header)) return ERROR_BAD_EXE_FORMAT;
  if (header[5] != kLittleEndian) return ERROR_BAD_EXE_FORMAT;
  const Layout* layout = header[4] == kClass32   ? &kElf32
                         : header[4] == kClass64 ? &kElf64
                                                 : nullptr;
  if (layout == nullptr || !file.Read(0, layout->headerLength, header))
    return ERROR_BAD_EXE_FORMAT;

  SectionTable table(file, *layout);
  bool empty = false;
  if (!table.Locate(header, &empty)) return ERROR_BAD_EXE_FORMAT;
  if (empty) return ERROR_RESOURCE_DATA_NOT_FOUND;
  Section names;
  if (!table.Read(table.NamesIndex(), &names) || names.type == kNoBits ||
      !file.Holds(names.offset, names.size))
    return ERROR_BAD_EXE_FORMAT;

  for (uint64_t index = 0; index < table.Count(); ++index) {
    Section section;
    if (!table.Read(index, &section)) return ERROR_BAD_EXE_FORMAT;
    if (!IsResourceSectionName(file, names, section.name)) continue;
    if (section.type == kNoBits ||
        !file.ReadBlock(section.offset, section.size, &set->bytes))
      return ERROR_BAD_EXE_FORMAT;
    return IndexResFile(set);
  }
  return ERROR_RESOURCE_DATA_NOT_FOUND;
}

}  // namespace internal
}  // namespace qxplatform
