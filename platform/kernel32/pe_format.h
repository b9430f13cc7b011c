// The PE file format's numbers that more than one reader of it needs: the
// resource reader (pe_resources.cpp) and the image mapper (loader/). Each
// reader keeps the numbers only it uses beside its code.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <windows.h>

namespace qxplatform {
namespace internal {

// The DOS header, and the field in it that gives the NT headers' offset.
constexpr size_t kDosHeaderLength = 64;
constexpr size_t kNewHeaderOffsetField = 0x3C;
// "PE\0\0", then the file header, then the optional header.
constexpr DWORD kPeSignature = 0x00004550;
constexpr size_t kFileHeaderLength = 20;
constexpr size_t kSectionHeaderLength = 40;
constexpr WORD kPe32Magic = 0x10B;  // the optional header's, PE32
constexpr WORD kPe64Magic = 0x20B;  // PE32+
// In a PE32 optional header.
constexpr size_t kImageBaseField = 28;
constexpr size_t kPe32DirectoryCountField = 92;
constexpr size_t kPe32DirectoriesOffset = 96;
// In a PE32+ optional header.
constexpr size_t kPe64DirectoryCountField = 108;
constexpr size_t kPe64DirectoriesOffset = 112;
constexpr size_t kDataDirectoryLength = 8;

// The data directories by index.
constexpr DWORD kExportDirectoryIndex = 0;
constexpr DWORD kImportDirectoryIndex = 1;
constexpr DWORD kResourceDirectoryIndex = 2;
constexpr DWORD kRelocationDirectoryIndex = 5;
constexpr DWORD kTlsDirectoryIndex = 9;

// The page and the allocation granularity of 32-bit Windows: what the
// format's alignment rules speak of and what Windows places images on,
// whatever this machine's own page is.
constexpr uint32_t kWindowsPageSize = 0x1000;
constexpr uint32_t kWindowsAllocationGranularity = 0x10000;

// A DOS header's first two bytes: "MZ".
inline bool StartsLikeDosHeader(const BYTE* bytes, size_t size) {
  return size >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

}  // namespace internal
}  // namespace qxplatform
