// Mapping a validated PE32 image: the reservation, the copy of headers and
// sections, the base relocations, the TLS callbacks, the final protections
// and the release. The headers were checked by ReadPeHeaders; everything
// read here from the mapping is checked against SizeOfImage as it is read,
// since relocations may have rewritten it.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "pe_format.h"
#include "pe_image_parts.h"

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000  // Linux 4.17; older kernels take a hint
#endif

namespace qxplatform {
namespace internal {
namespace {

constexpr WORD kRelocationsStripped = 0x0001;  // IMAGE_FILE_RELOCS_STRIPPED
constexpr WORD kRelocationAbsolute = 0;        // IMAGE_REL_BASED_ABSOLUTE
constexpr WORD kRelocationHighLow = 3;         // IMAGE_REL_BASED_HIGHLOW
constexpr uint32_t kRelocationBlockHeader = 8;
constexpr DWORD kSectionExecute = 0x20000000;  // IMAGE_SCN_MEM_EXECUTE
constexpr DWORD kSectionRead = 0x40000000;     // IMAGE_SCN_MEM_READ
constexpr DWORD kSectionWrite = 0x80000000;    // IMAGE_SCN_MEM_WRITE
// Where Windows places every image.
constexpr size_t kAllocationGranularity = kWindowsAllocationGranularity;

size_t PageSize() {
  const long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? static_cast<size_t>(page) : 0x1000;
}

BYTE* Reserve(void* at, size_t size, int flags) {
  void* mapping = mmap(at, size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | flags, -1, 0);
  return mapping == MAP_FAILED ? nullptr : static_cast<BYTE*>(mapping);
}

// Anywhere, on a 64 KiB boundary, where Windows places every image (code
// may round an address inside a module down to find its base): a little
// more is reserved and the ends around the boundary are given back.
BYTE* ReserveAnywhere(size_t size, int flags) {
  const size_t page = PageSize();
  const size_t slack =
      kAllocationGranularity > page ? kAllocationGranularity - page : 0;
  BYTE* start = Reserve(nullptr, size + slack, flags);
  if (start == nullptr) return nullptr;
  const uintptr_t at = reinterpret_cast<uintptr_t>(start);
  const uintptr_t aligned = (at + kAllocationGranularity - 1) &
                            ~uintptr_t{kAllocationGranularity - 1};
  const size_t head = aligned - at;
  if (head != 0) munmap(start, head);
  if (slack - head != 0) munmap(start + head + size, slack - head);
  return start + head;
}

// The preferred base when it is free, else anywhere the image may move to:
// in a 64-bit process preferably below 4 GiB, where its 32-bit pointers can
// reach it.
DWORD ReserveImage(PeImage* image, std::string* failure) {
  const size_t page = PageSize();
  image->size = (size_t{image->imageSize} + page - 1) / page * page;
  void* preferred = reinterpret_cast<void*>(uintptr_t{image->preferredBase});
  if (image->preferredBase % page == 0 && image->preferredBase != 0) {
    image->base = Reserve(preferred, image->size, MAP_FIXED_NOREPLACE);
    // A kernel that does not know the flag treats the address as a hint.
    if (image->base != nullptr && image->base != preferred) {
      munmap(image->base, image->size);
      image->base = nullptr;
    }
  }
  if (image->base != nullptr) return ERROR_SUCCESS;
  if ((image->characteristics & kRelocationsStripped) != 0) {
    *failure =
        "the image cannot move from its ImageBase (its relocations are "
        "stripped) and that range is taken";
    return ERROR_INVALID_ADDRESS;
  }
#if defined(MAP_32BIT) && UINTPTR_MAX > 0xFFFFFFFFu
  image->base = ReserveAnywhere(image->size, MAP_32BIT);
#endif
  if (image->base == nullptr) image->base = ReserveAnywhere(image->size, 0);
  if (image->base == nullptr) {
    *failure = "no room for SizeOfImage in the address space";
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  image->relocated = true;
  return ERROR_SUCCESS;
}

void CopyImage(const BYTE* file, PeImage* image) {
  memcpy(image->base, file, image->headersSize);
  for (const PeSection& section : image->sections) {
    if (section.rawSize != 0)
      memcpy(image->base + section.rva, file + section.rawOffset,
             section.rawSize);
  }
}

// Walks every relocation block whether or not the image moved, so that an
// image is refused for damaged relocations wherever it lands; the fixups
// themselves are added only when it moved. Addresses are 32-bit: the delta
// wraps modulo 2^32, as the image's own arithmetic does.
DWORD Relocate(PeImage* image, std::string* failure) {
  const PeDirectory& directory = image->relocations;
  if (directory.size == 0) return ERROR_SUCCESS;
  const uint32_t delta = ImageAddress(*image, 0) - image->preferredBase;
  uint32_t offset = 0;
  while (offset < directory.size) {
    const uint32_t blockRva = directory.rva + offset;
    const BYTE* block = image->base + blockRva;
    const uint32_t left = directory.size - offset;
    if (left < kRelocationBlockHeader)
      return Damaged(failure, "the relocation block at 0x%X is cut short",
                     blockRva);
    const uint32_t pageRva = ReadDword(block);
    const uint32_t blockSize = ReadDword(block + 4);
    if (blockSize < kRelocationBlockHeader || blockSize % 2 != 0 ||
        blockSize > left)
      return Damaged(failure,
                     "the relocation block at 0x%X has a bad size (%u bytes)",
                     blockRva, blockSize);
    for (uint32_t at = kRelocationBlockHeader; at < blockSize; at += 2) {
      const WORD entry = ReadWord(block + at);
      const WORD type = entry >> 12;
      const uint64_t target = uint64_t{pageRva} + (entry & 0xFFF);
      if (type == kRelocationAbsolute) continue;
      if (type != kRelocationHighLow)
        return Damaged(failure, "relocation type %u at 0x%llX is not supported",
                       type, static_cast<unsigned long long>(target));
      if (!ImageHolds(*image, target, 4))
        return Damaged(failure,
                       "the relocation of 0x%llX lies outside the image",
                       static_cast<unsigned long long>(target));
      if (!image->relocated) continue;
      BYTE* field = image->base + target;
      const uint32_t value = ReadDword(field) + delta;
      memcpy(field, &value, 4);  // little-endian, as the image is
    }
    offset += blockSize;
  }
  return ERROR_SUCCESS;
}

// A moved image finds its own base in its header, as on Windows. The field's
// place comes from the file: the mapped copy may have been rewritten.
void RecordBase(const BYTE* file, PeImage* image) {
  const uint32_t base = ImageAddress(*image, 0);
  const size_t field = size_t{ReadDword(file + kNewHeaderOffsetField)} + 4 +
                       kFileHeaderLength + kImageBaseField;
  memcpy(image->base + field, &base, 4);
}

// The callbacks listed by the TLS directory: a zero-terminated array of
// addresses, each inside the image.
DWORD ReadTlsCallbacks(PeImage* image, std::string* failure) {
  if (image->tls.size == 0) return ERROR_SUCCESS;
  const uint32_t list = ReadDword(image->base + image->tls.rva + 12);
  if (list == 0) return ERROR_SUCCESS;
  uint64_t rva = list - ImageAddress(*image, 0);
  for (unsigned number = 1;; ++number, rva += 4) {
    if (!ImageHolds(*image, rva, 4))
      return Damaged(failure,
                     "the TLS callback list does not end inside the image");
    const uint32_t callback = ReadDword(image->base + rva);
    if (callback == 0) return ERROR_SUCCESS;
    const uint32_t callbackRva = callback - ImageAddress(*image, 0);
    if (callbackRva >= image->imageSize)
      return Damaged(failure, "TLS callback %u lies outside the image", number);
    image->tlsCallbacks.push_back(reinterpret_cast<uintptr_t>(image->base) +
                                  callbackRva);
  }
}

// A thread's copy of an image's thread-local data is made for every thread;
// nothing an image may rightly ask for comes near this.
constexpr uint64_t kLargestThreadData = 1u << 20;

// The TLS directory's template of implicit thread-local data and the place
// of its index, each inside the image.
DWORD ReadTlsData(PeImage* image, std::string* failure) {
  if (image->tls.size == 0) return ERROR_SUCCESS;
  const BYTE* directory = image->base + image->tls.rva;
  const uint32_t base = ImageAddress(*image, 0);
  const uint32_t start = ReadDword(directory);
  const uint32_t end = ReadDword(directory + 4);
  const uint32_t index = ReadDword(directory + 8);
  const uint32_t zeroFill = ReadDword(directory + 16);
  if (index == 0) {
    if (start != end || zeroFill != 0)
      return Damaged(failure, "the TLS data has no index");
    return ERROR_SUCCESS;
  }
  const uint32_t indexRva = index - base;
  if (indexRva == 0 || !ImageHolds(*image, indexRva, 4))
    return Damaged(failure, "the TLS index lies outside the image");
  if (end < start)
    return Damaged(failure, "the TLS data ends before it starts");
  const uint32_t dataRva = start - base;
  if (end != start && !ImageHolds(*image, dataRva, end - start))
    return Damaged(failure, "the TLS data lies outside the image");
  if (uint64_t{end - start} + zeroFill > kLargestThreadData)
    return Damaged(failure, "the TLS data is larger than %u bytes",
                   static_cast<unsigned>(kLargestThreadData));
  image->tlsIndexRva = indexRva;
  image->tlsDataRva = end != start ? dataRva : 0;
  image->tlsDataSize = end - start;
  image->tlsZeroFill = zeroFill;
  return ERROR_SUCCESS;
}

int Protection(DWORD characteristics) {
  int protection = PROT_NONE;
  if ((characteristics & kSectionRead) != 0) protection |= PROT_READ;
  if ((characteristics & kSectionWrite) != 0) protection |= PROT_WRITE;
  if ((characteristics & kSectionExecute) != 0) protection |= PROT_EXEC;
  return protection;
}

}  // namespace

DWORD Damaged(std::string* failure, const char* format, ...) {
  if (failure == nullptr) return ERROR_BAD_EXE_FORMAT;
  char message[256];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(message, sizeof(message), format, arguments);
  va_end(arguments);
  *failure = message;
  return ERROR_BAD_EXE_FORMAT;
}

ImageStringRead ImageString(const PeImage& image, uint32_t rva,
                            const char** text, uint64_t* budget) {
  if (rva >= image.imageSize) return ImageStringRead::kOutside;
  if (*budget == 0) return ImageStringRead::kBudgetSpent;
  uint64_t span = image.imageSize - rva;
  const bool budgetShorter = span > *budget;
  if (budgetShorter) span = *budget;
  const void* end = memchr(image.base + rva, 0, static_cast<size_t>(span));
  if (end == nullptr) {
    *budget -= span;
    return budgetShorter ? ImageStringRead::kBudgetSpent
                         : ImageStringRead::kUnended;
  }
  *budget -= static_cast<const BYTE*>(end) - (image.base + rva) + 1;
  *text = reinterpret_cast<const char*>(image.base + rva);
  return ImageStringRead::kRead;
}

DWORD MapPeImage(const BYTE* file, size_t size, PeImage* image,
                 std::string* failure) {
  std::string ignored;
  if (failure == nullptr) failure = &ignored;
  *image = PeImage();
  DWORD status = file != nullptr ? ReadPeHeaders(file, size, image, failure)
                                 : Damaged(failure, "there is no file");
  if (status == ERROR_SUCCESS) status = ReserveImage(image, failure);
  if (status != ERROR_SUCCESS) {
    *image = PeImage();
    return status;
  }
  CopyImage(file, image);
  status = Relocate(image, failure);
  if (status == ERROR_SUCCESS && image->relocated) RecordBase(file, image);
  if (status == ERROR_SUCCESS) status = ReadTlsCallbacks(image, failure);
  if (status == ERROR_SUCCESS) status = ReadTlsData(image, failure);
  if (status == ERROR_SUCCESS)
    status = WalkPeImports(image, /*resolver=*/nullptr, nullptr, failure);
  if (status == ERROR_SUCCESS) status = CheckPeExports(*image, failure);
  if (status != ERROR_SUCCESS) UnmapPeImage(image);
  return status;
}

DWORD BindPeImports(PeImage* image, PeImportResolver resolver, void* context,
                    std::string* failure) {
  std::string ignored;
  if (failure == nullptr) failure = &ignored;
  if (image->base == nullptr || resolver == nullptr)
    return Damaged(failure, "there is no image to bind");
  return WalkPeImports(image, resolver, context, failure);
}

DWORD ProtectPeImage(PeImage* image) {
  if (image->base == nullptr) return ERROR_INVALID_PARAMETER;
  // Each page gets what every section on it asks for; with the section
  // alignment at least the page size, that is exactly one section.
  const size_t page = PageSize();
  std::vector<int> pages(image->size / page, PROT_NONE);
  for (size_t index = 0; index * page < image->headersSize; ++index)
    pages[index] |= PROT_READ;
  for (const PeSection& section : image->sections) {
    size_t end = size_t{section.rva} + section.extent;
    if (end > image->size) end = image->size;
    for (size_t index = section.rva / page; index * page < end; ++index)
      pages[index] |= Protection(section.characteristics);
  }
  size_t first = 0;
  while (first < pages.size()) {
    size_t last = first + 1;
    while (last < pages.size() && pages[last] == pages[first]) ++last;
    if (mprotect(image->base + first * page, (last - first) * page,
                 pages[first]) != 0)
      return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_NOT_ENOUGH_MEMORY;
    first = last;
  }
  return ERROR_SUCCESS;
}

void UnmapPeImage(PeImage* image) {
  if (image->base != nullptr) munmap(image->base, image->size);
  *image = PeImage();
}

}  // namespace internal
}  // namespace qxplatform
