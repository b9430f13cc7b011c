// The headers of a PE32 image file, validated before anything is mapped: the
// DOS header, the NT headers, the section table and the data directories the
// mapper reads. All arithmetic on the file's 32-bit fields is done in 64
// bits, so no sum of an offset and a size can wrap.
#include <string.h>

#include "pe_format.h"
#include "pe_image_parts.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr WORD kMachineI386 = 0x14C;
// PE32, before the directories.
constexpr size_t kOptionalFixedLength = kPe32DirectoriesOffset;
constexpr DWORD kMaxDirectories = 16;
constexpr WORD kMaxSections = 96;
constexpr uint32_t kMaxImageSize = 256u << 20;
// The format's own rules speak of the i386 page and of 64 KiB.
constexpr uint32_t kFormatPageSize = kWindowsPageSize;
constexpr uint32_t kBaseGranularity = kWindowsAllocationGranularity;
constexpr uint32_t kMaxFileAlignment = 0x10000;
constexpr WORD kExecutableImage = 0x0002;  // IMAGE_FILE_EXECUTABLE_IMAGE
constexpr WORD kDllImage = 0x2000;         // IMAGE_FILE_DLL
constexpr uint32_t kExportDirectoryLength = 40;
constexpr uint32_t kTlsDirectoryLength = 24;

bool IsPowerOfTwo(uint32_t value) {
  return value != 0 && (value & (value - 1)) == 0;
}

uint64_t AlignUp(uint64_t value, uint32_t alignment) {
  return (value + alignment - 1) & ~static_cast<uint64_t>(alignment - 1);
}

// Printable, for a message: a section name is any eight bytes.
void CopySectionName(const BYTE* field, char* name) {
  for (size_t index = 0; index < 8 && field[index] != 0; ++index) {
    const BYTE unit = field[index];
    name[index] = unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?';
  }
}

DWORD ReadSections(const BYTE* file, size_t size, size_t tableOffset,
                   WORD count, PeImage* image, std::string* failure) {
  const uint32_t alignment = image->sectionAlignment;
  // Sections come after the headers, in ascending order, without overlap.
  uint64_t previousEnd = AlignUp(image->headersSize, alignment);
  for (WORD index = 0; index < count; ++index) {
    const BYTE* header = file + tableOffset + index * kSectionHeaderLength;
    PeSection section;
    CopySectionName(header, section.name);
    const uint32_t virtualSize = ReadDword(header + 8);
    section.rva = ReadDword(header + 12);
    const uint32_t rawSize = ReadDword(header + 16);
    section.rawOffset = ReadDword(header + 20);
    section.characteristics = ReadDword(header + 36);
    const unsigned number = index + 1u;
    // A section without a virtual size takes the size of its raw data.
    const uint32_t memorySize = virtualSize != 0 ? virtualSize : rawSize;
    if (section.rva % alignment != 0)
      return Damaged(failure, "section %u (%s) is not aligned to 0x%X", number,
                     section.name, alignment);
    if (section.rva < previousEnd)
      return Damaged(failure,
                     index == 0 ? "section %u (%s) overlaps the headers"
                                : "section %u (%s) overlaps the one before it",
                     number, section.name);
    if (uint64_t{section.rva} + memorySize > image->imageSize)
      return Damaged(failure, "section %u (%s) lies outside SizeOfImage",
                     number, section.name);
    if (rawSize != 0 &&
        (section.rawOffset > size || rawSize > size - section.rawOffset))
      return Damaged(failure, "section %u (%s) lies outside the file", number,
                     section.name);
    // Raw data past the virtual size is the file's padding, not the image's.
    section.rawSize = rawSize < memorySize ? rawSize : memorySize;
    const uint64_t end = AlignUp(uint64_t{section.rva} + memorySize, alignment);
    section.extent = static_cast<uint32_t>(end - section.rva);
    previousEnd = end;
    image->sections.push_back(section);
  }
  return ERROR_SUCCESS;
}

// A data directory the mapper reads: absent when either field is 0,
// otherwise wholly inside the image.
DWORD ReadDirectory(const BYTE* directories, DWORD present, size_t index,
                    const char* what, uint32_t minimumSize, PeImage* image,
                    PeDirectory* directory, std::string* failure) {
  if (index >= present) return ERROR_SUCCESS;
  const uint32_t rva = ReadDword(directories + index * 8);
  const uint32_t length = ReadDword(directories + index * 8 + 4);
  if (rva == 0 || length == 0) return ERROR_SUCCESS;
  if (!ImageHolds(*image, rva, length))
    return Damaged(failure, "the %s directory lies outside the image", what);
  if (length < minimumSize)
    return Damaged(failure, "the %s directory is too short (%u bytes)", what,
                   length);
  directory->rva = rva;
  directory->size = length;
  return ERROR_SUCCESS;
}

DWORD ReadOptionalHeader(const BYTE* optional, size_t size, PeImage* image,
                         std::string* failure) {
  if (ReadWord(optional) != kPe32Magic)
    return Damaged(failure, "optional header magic 0x%X is not PE32",
                   ReadWord(optional));
  const uint32_t entry = ReadDword(optional + 16);
  image->preferredBase = ReadDword(optional + 28);
  image->sectionAlignment = ReadDword(optional + 32);
  const uint32_t fileAlignment = ReadDword(optional + 36);
  image->imageSize = ReadDword(optional + 56);
  image->headersSize = ReadDword(optional + 60);

  const uint32_t sectionAlignment = image->sectionAlignment;
  if (!IsPowerOfTwo(sectionAlignment) || sectionAlignment > kMaxImageSize)
    return Damaged(failure,
                   "SectionAlignment 0x%X is not a sensible power of two",
                   sectionAlignment);
  if (!IsPowerOfTwo(fileAlignment) || fileAlignment > kMaxFileAlignment ||
      fileAlignment > sectionAlignment)
    return Damaged(failure,
                   "FileAlignment 0x%X does not suit SectionAlignment 0x%X",
                   fileAlignment, sectionAlignment);
  // Below the page size, sections are laid out in memory as in the file.
  if (sectionAlignment < kFormatPageSize && fileAlignment != sectionAlignment)
    return Damaged(failure,
                   "SectionAlignment 0x%X is below the page size but "
                   "FileAlignment 0x%X differs",
                   sectionAlignment, fileAlignment);
  if (image->imageSize == 0 || image->imageSize > kMaxImageSize)
    return Damaged(failure,
                   "SizeOfImage 0x%X is not between 1 byte and 256 MiB",
                   image->imageSize);
  if (image->preferredBase % kBaseGranularity != 0)
    return Damaged(failure, "ImageBase 0x%X is not a multiple of 64 KiB",
                   image->preferredBase);
  if (uint64_t{image->preferredBase} + image->imageSize > (uint64_t{1} << 32))
    return Damaged(failure,
                   "the image at ImageBase 0x%X would end beyond 4 GiB",
                   image->preferredBase);
  if (image->headersSize > image->imageSize)
    return Damaged(failure, "SizeOfHeaders 0x%X is larger than SizeOfImage",
                   image->headersSize);
  if (image->headersSize > size)
    return Damaged(failure, "SizeOfHeaders 0x%X is larger than the file",
                   image->headersSize);
  if ((image->characteristics & kDllImage) != 0 && entry != 0) {
    if (entry >= image->imageSize)
      return Damaged(failure, "the entry point 0x%X lies outside the image",
                     entry);
    image->entryRva = entry;
  }
  return ERROR_SUCCESS;
}

DWORD ReadDirectories(const BYTE* optional, size_t optionalLength,
                      PeImage* image, std::string* failure) {
  DWORD present = ReadDword(optional + kPe32DirectoryCountField);
  if (present > kMaxDirectories) present = kMaxDirectories;
  if (optionalLength < kOptionalFixedLength + present * kDataDirectoryLength)
    return Damaged(
        failure, "the optional header is too short for its %u data directories",
        present);
  const BYTE* directories = optional + kOptionalFixedLength;
  DWORD status =
      ReadDirectory(directories, present, kExportDirectoryIndex, "export",
                    kExportDirectoryLength, image, &image->exports, failure);
  if (status == ERROR_SUCCESS)
    status = ReadDirectory(directories, present, kImportDirectoryIndex, "import", 0,
                           image, &image->imports, failure);
  if (status == ERROR_SUCCESS)
    status = ReadDirectory(directories, present, kRelocationDirectoryIndex, "relocation",
                           0, image, &image->relocations, failure);
  if (status == ERROR_SUCCESS)
    status = ReadDirectory(directories, present, kTlsDirectoryIndex, "TLS",
                           kTlsDirectoryLength, image, &image->tls, failure);
  return status;
}

}  // namespace

bool LooksLikePeImage(const BYTE* file, size_t size) {
  if (file == nullptr || size < kDosHeaderLength ||
      !StartsLikeDosHeader(file, size))
    return false;
  const uint64_t peOffset = ReadDword(file + kNewHeaderOffsetField);
  return peOffset <= size && size - peOffset >= 4 &&
         ReadDword(file + peOffset) == kPeSignature;
}

DWORD ReadPeHeaders(const BYTE* file, size_t size, PeImage* image,
                    std::string* failure) {
  if (size < kDosHeaderLength)
    return Damaged(failure, "the file is too short for a DOS header");
  if (file[0] != 'M' || file[1] != 'Z')
    return Damaged(failure, "the file has no MZ signature");
  const uint64_t peOffset = ReadDword(file + kNewHeaderOffsetField);
  if (peOffset > size || size - peOffset < 4 + kFileHeaderLength)
    return Damaged(failure,
                   "the NT headers at e_lfanew 0x%llX lie outside the file",
                   static_cast<unsigned long long>(peOffset));
  if (ReadDword(file + peOffset) != kPeSignature)
    return Damaged(failure, "no PE signature at e_lfanew 0x%llX",
                   static_cast<unsigned long long>(peOffset));
  const BYTE* fileHeader = file + peOffset + 4;
  const WORD machine = ReadWord(fileHeader);
  const WORD sectionCount = ReadWord(fileHeader + 2);
  const size_t optionalLength = ReadWord(fileHeader + 16);
  image->characteristics = ReadWord(fileHeader + 18);
  if (machine != kMachineI386)
    return Damaged(failure, "machine 0x%04X is not i386", machine);
  if ((image->characteristics & kExecutableImage) == 0)
    return Damaged(failure, "the file is not marked as an executable image");
  if (sectionCount == 0 || sectionCount > kMaxSections)
    return Damaged(failure, "%u sections (an image has 1 to %u)", sectionCount,
                   kMaxSections);
  const uint64_t optionalOffset = peOffset + 4 + kFileHeaderLength;
  if (optionalLength < kOptionalFixedLength)
    return Damaged(failure, "the optional header is too short (%zu bytes)",
                   optionalLength);
  if (optionalLength > size - optionalOffset)
    return Damaged(failure, "the optional header is cut short");
  const BYTE* optional = file + optionalOffset;
  DWORD status = ReadOptionalHeader(optional, size, image, failure);
  if (status != ERROR_SUCCESS) return status;
  const uint64_t tableOffset = optionalOffset + optionalLength;
  const uint64_t tableEnd = tableOffset + sectionCount * kSectionHeaderLength;
  // Inside the headers, which lie inside the file.
  if (tableEnd > image->headersSize)
    return Damaged(failure, "the section table lies beyond SizeOfHeaders");
  status = ReadDirectories(optional, optionalLength, image, failure);
  if (status != ERROR_SUCCESS) return status;
  return ReadSections(file, size, static_cast<size_t>(tableOffset),
                      sectionCount, image, failure);
}

}  // namespace internal
}  // namespace qxplatform
