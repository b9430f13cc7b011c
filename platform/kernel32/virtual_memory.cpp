// Virtual memory queries and protection over the process's own mappings, as
// the kernel lists them in /proc/self/maps and mprotect changes them.
//
// Linux has no reserved-but-uncommitted state: every mapping is committed,
// one without access is PAGE_NOACCESS, and address space no mapping covers is
// MEM_FREE. Anonymous mappings are MEM_PRIVATE, file mappings MEM_MAPPED,
// and the ranges the loader notes as Windows images MEM_IMAGE.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <sys/mman.h>
#include <unistd.h>
#include <windows.h>

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kernel_internal.h"

#if defined(__i386__)
static_assert(sizeof(MEMORY_BASIC_INFORMATION) == 28,
              "MEMORY_BASIC_INFORMATION has the wrong size");
#endif

namespace {

// One line of /proc/self/maps.
struct Mapping {
  uintptr_t start = 0;
  uintptr_t end = 0;
  int protection = PROT_NONE;  // PROT_*
  uint64_t device = 0;         // major:minor as one number
  uint64_t inode = 0;          // 0: anonymous
  uint64_t offset = 0;
};

struct ImageRange {
  uintptr_t base;
  uintptr_t end;
};

struct ImageRanges {
  std::mutex lock;
  std::vector<ImageRange> ranges;
};

ImageRanges& Images() {
  static ImageRanges* images = new ImageRanges;  // outlives static teardown
  return *images;
}

// The image containing address, if any.
bool FindImage(uintptr_t address, ImageRange* found) {
  ImageRanges& images = Images();
  std::lock_guard<std::mutex> guard(images.lock);
  for (const ImageRange& range : images.ranges) {
    if (address >= range.base && address < range.end) {
      *found = range;
      return true;
    }
  }
  return false;
}

uintptr_t PageSize() {
  static const uintptr_t size = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  return size;
}

bool ReadWholeFile(const char* path, std::string* text) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[4096];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      close(fd);
      return false;
    }
    if (got == 0) break;
    text->append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return true;
}

// Reads a hexadecimal or decimal field and the separator after it.
bool ReadNumber(std::string_view* line, int base, char separator,
                uint64_t* value) {
  uint64_t result = 0;
  size_t used = 0;
  while (used < line->size()) {
    char c = (*line)[used];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      break;
    }
    result =
        result * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    ++used;
  }
  if (used == 0 || used >= line->size() || (*line)[used] != separator) {
    return false;
  }
  line->remove_prefix(used + 1);
  *value = result;
  return true;
}

// "start-end perms offset major:minor inode [path]"
bool ParseMapping(std::string_view line, Mapping* mapping,
                  std::string_view* path) {
  uint64_t start, end, offset, major, minor, inode;
  if (!ReadNumber(&line, 16, '-', &start) || !ReadNumber(&line, 16, ' ', &end))
    return false;
  if (line.size() < 5 || line[4] != ' ') return false;
  int protection = PROT_NONE;
  if (line[0] == 'r') protection |= PROT_READ;
  if (line[1] == 'w') protection |= PROT_WRITE;
  if (line[2] == 'x') protection |= PROT_EXEC;
  line.remove_prefix(5);
  if (!ReadNumber(&line, 16, ' ', &offset) ||
      !ReadNumber(&line, 16, ':', &major) ||
      !ReadNumber(&line, 16, ' ', &minor))
    return false;
  // The inode ends the line when there is no path.
  std::string_view rest = line;
  size_t digits = 0;
  inode = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
    inode = inode * 10 + static_cast<uint64_t>(rest[digits++] - '0');
  if (digits == 0) return false;
  rest.remove_prefix(digits);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (start > UINTPTR_MAX || end > UINTPTR_MAX || start >= end) return false;
  mapping->start = static_cast<uintptr_t>(start);
  mapping->end = static_cast<uintptr_t>(end);
  mapping->protection = protection;
  mapping->device = (major << 32) | minor;
  mapping->inode = inode;
  mapping->offset = offset;
  *path = rest;
  return true;
}

// The process's mappings in ascending order, and the end of user address
// space as far as it can be told: the end of the highest mapping. The
// x86-64 vsyscall page lies in kernel space and is left out.
bool ReadMappings(std::vector<Mapping>* mappings, uintptr_t* userEnd) {
  std::string text;
  if (!ReadWholeFile("/proc/self/maps", &text)) return false;
  std::string_view rest = text;
  *userEnd = 0;
  while (!rest.empty()) {
    size_t newline = rest.find('\n');
    std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline == std::string_view::npos ? rest.size()
                                                         : newline + 1);
    Mapping mapping;
    std::string_view path;
    if (!ParseMapping(line, &mapping, &path)) continue;
    if (path == "[vsyscall]") continue;
    mappings->push_back(mapping);
    if (mapping.end > *userEnd) *userEnd = mapping.end;
  }
  return !mappings->empty();
}

DWORD WindowsProtection(int protection) {
  bool read = (protection & PROT_READ) != 0;
  bool write = (protection & PROT_WRITE) != 0;
  bool execute = (protection & PROT_EXEC) != 0;
  // x86 pages cannot be written without being readable.
  if (execute) {
    if (write) return PAGE_EXECUTE_READWRITE;
    return read ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
  }
  if (write) return PAGE_READWRITE;
  return read ? PAGE_READONLY : PAGE_NOACCESS;
}

// The mapping protection for a Windows page protection: false when the
// value is not exactly one of the eight base protections, perhaps with
// modifiers; *modified when it carries any.
bool LinuxProtection(DWORD windowsProtection, int* protection, bool* modified) {
  constexpr DWORD kModifiers = PAGE_GUARD | PAGE_NOCACHE | PAGE_WRITECOMBINE;
  if ((windowsProtection & PAGE_NOCACHE) &&
      (windowsProtection & PAGE_WRITECOMBINE))
    return false;
  *modified = (windowsProtection & kModifiers) != 0;
  switch (windowsProtection & ~kModifiers) {
    case PAGE_NOACCESS:
      if (*modified) return false;  // a guard page needs some access
      *protection = PROT_NONE;
      return true;
    case PAGE_READONLY:
      *protection = PROT_READ;
      return true;
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:  // private mappings are copy-on-write already
      *protection = PROT_READ | PROT_WRITE;
      return true;
    case PAGE_EXECUTE:
      *protection = PROT_EXEC;
      return true;
    case PAGE_EXECUTE_READ:
      *protection = PROT_READ | PROT_EXEC;
      return true;
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
      *protection = PROT_READ | PROT_WRITE | PROT_EXEC;
      return true;
    default:
      return false;
  }
}

// The allocation a mapping belongs to: a file's mappings that follow one
// another at the right distances are one view of it; an anonymous mapping
// is its own.
uintptr_t AllocationStart(const std::vector<Mapping>& mappings, size_t index) {
  while (index > 0) {
    const Mapping& current = mappings[index];
    const Mapping& previous = mappings[index - 1];
    if (current.inode == 0 || previous.inode != current.inode ||
        previous.device != current.device || previous.end != current.start ||
        previous.offset + (previous.end - previous.start) != current.offset)
      break;
    --index;
  }
  return mappings[index].start;
}

void DescribeFree(uintptr_t base, uintptr_t regionEnd,
                  PMEMORY_BASIC_INFORMATION info) {
  info->BaseAddress = reinterpret_cast<PVOID>(base);
  info->AllocationBase = nullptr;
  info->AllocationProtect = 0;
  info->RegionSize = regionEnd - base;
  info->State = MEM_FREE;
  info->Protect = PAGE_NOACCESS;
  info->Type = 0;
}

// An image's region: Windows keeps an image's pages of one protection in one
// region, however the kernel has split them.
void DescribeImagePages(const std::vector<Mapping>& mappings, size_t index,
                        uintptr_t base, const ImageRange& image,
                        PMEMORY_BASIC_INFORMATION info) {
  const DWORD protect = WindowsProtection(mappings[index].protection);
  uintptr_t regionEnd = mappings[index].end;
  for (size_t next = index + 1;
       next < mappings.size() && mappings[next].start == regionEnd &&
       regionEnd < image.end &&
       WindowsProtection(mappings[next].protection) == protect;
       ++next) {
    regionEnd = mappings[next].end;
  }
  if (regionEnd > image.end) regionEnd = image.end;
  info->BaseAddress = reinterpret_cast<PVOID>(base);
  info->AllocationBase = reinterpret_cast<PVOID>(image.base);
  info->AllocationProtect = PAGE_EXECUTE_WRITECOPY;
  info->RegionSize = regionEnd - base;
  info->State = MEM_COMMIT;
  info->Protect = protect;
  info->Type = MEM_IMAGE;
}

// Any other mapping: a file's view or private memory, one region to the
// mapping's end, allocated where its allocation starts.
void DescribeMappedPages(const std::vector<Mapping>& mappings, size_t index,
                         uintptr_t base, PMEMORY_BASIC_INFORMATION info) {
  const Mapping& mapping = mappings[index];
  uintptr_t allocation = AllocationStart(mappings, index);
  size_t first = index;
  while (first > 0 && mappings[first].start != allocation) --first;
  info->BaseAddress = reinterpret_cast<PVOID>(base);
  info->AllocationBase = reinterpret_cast<PVOID>(allocation);
  info->AllocationProtect = WindowsProtection(mappings[first].protection);
  info->RegionSize = mapping.end - base;
  info->State = MEM_COMMIT;
  info->Protect = WindowsProtection(mapping.protection);
  info->Type = mapping.inode != 0 ? MEM_MAPPED : MEM_PRIVATE;
}

// Every page of [start, end) must be mapped: the first page's mapping, then
// mappings that follow without a gap up to the end. ERROR_SUCCESS with the
// first page's protection, else ERROR_INVALID_ADDRESS.
DWORD ProtectionOfMappedRange(const std::vector<Mapping>& mappings,
                              uintptr_t start, uintptr_t end,
                              DWORD* oldProtect) {
  size_t index = 0;
  while (index < mappings.size() && mappings[index].end <= start) ++index;
  if (index == mappings.size() || mappings[index].start > start)
    return ERROR_INVALID_ADDRESS;
  uintptr_t covered = mappings[index].end;
  for (size_t next = index + 1; covered < end; ++next) {
    if (next == mappings.size() || mappings[next].start != covered)
      return ERROR_INVALID_ADDRESS;
    covered = mappings[next].end;
  }
  *oldProtect = WindowsProtection(mappings[index].protection);
  return ERROR_SUCCESS;
}

// Why mprotect refused, as VirtualProtect reports it.
DWORD ProtectFailure(int error) {
  switch (error) {
    case EACCES:  // e.g. writing a file opened only for reading
      return ERROR_ACCESS_DENIED;
    case ENOMEM:  // unmapped meanwhile, or too many mappings
      return ERROR_INVALID_ADDRESS;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace

namespace qxplatform {
namespace internal {

void NoteImageMapping(const void* base, size_t size) {
  ImageRanges& images = Images();
  std::lock_guard<std::mutex> guard(images.lock);
  uintptr_t start = reinterpret_cast<uintptr_t>(base);
  images.ranges.push_back({start, start + size});
}

size_t MappedImageSize(HMODULE module) {
  ImageRanges& images = Images();
  std::lock_guard<std::mutex> guard(images.lock);
  const uintptr_t start = reinterpret_cast<uintptr_t>(module);
  for (const ImageRange& range : images.ranges)
    if (range.base == start) return range.end - range.base;
  return 0;
}

void ForgetImageMapping(const void* base) {
  ImageRanges& images = Images();
  std::lock_guard<std::mutex> guard(images.lock);
  uintptr_t start = reinterpret_cast<uintptr_t>(base);
  for (size_t i = 0; i < images.ranges.size(); ++i) {
    if (images.ranges[i].base == start) {
      images.ranges.erase(images.ranges.begin() + static_cast<long>(i));
      return;
    }
  }
}

}  // namespace internal
}  // namespace qxplatform

SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress,
                           PMEMORY_BASIC_INFORMATION lpBuffer,
                           SIZE_T dwLength) {
  std::vector<Mapping> mappings;
  uintptr_t userEnd = 0;
  if (!ReadMappings(&mappings, &userEnd)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  uintptr_t address = reinterpret_cast<uintptr_t>(lpAddress);
  if (address >= userEnd) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (dwLength < sizeof(MEMORY_BASIC_INFORMATION)) {
    SetLastError(ERROR_BAD_LENGTH);
    return 0;
  }
  if (lpBuffer == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return 0;
  }

  uintptr_t base = address & ~(PageSize() - 1);
  size_t index = 0;
  while (index < mappings.size() && mappings[index].end <= base) ++index;
  if (index == mappings.size() || mappings[index].start > base) {
    // Free up to the next mapping.
    uintptr_t regionEnd =
        index == mappings.size() ? userEnd : mappings[index].start;
    DescribeFree(base, regionEnd, lpBuffer);
    return sizeof(MEMORY_BASIC_INFORMATION);
  }

  ImageRange image;
  if (FindImage(base, &image))
    DescribeImagePages(mappings, index, base, image, lpBuffer);
  else
    DescribeMappedPages(mappings, index, base, lpBuffer);
  return sizeof(MEMORY_BASIC_INFORMATION);
}

BOOL WINAPI VirtualProtect(LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect,
                           PDWORD lpflOldProtect) {
  int protection = PROT_NONE;
  bool modified = false;
  if (!LinuxProtection(flNewProtect, &protection, &modified)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The system writes the old protection through the pointer; a null one
  // faults there, which the caller sees as this error.
  if (lpflOldProtect == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  // Guard pages fault once and then lose the guard, and caching attributes
  // are the kernel's alone: neither can be given to a mapping here.
  if (modified) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  uintptr_t address = reinterpret_cast<uintptr_t>(lpAddress);
  uintptr_t pageMask = PageSize() - 1;
  if (dwSize == 0 || address > UINTPTR_MAX - dwSize ||
      address + dwSize > UINTPTR_MAX - pageMask) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  uintptr_t start = address & ~pageMask;
  uintptr_t end = (address + dwSize + pageMask) & ~pageMask;

  std::vector<Mapping> mappings;
  uintptr_t userEnd = 0;
  if (!ReadMappings(&mappings, &userEnd)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if (end > userEnd) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD oldProtect = 0;
  const DWORD status =
      ProtectionOfMappedRange(mappings, start, end, &oldProtect);
  if (status != ERROR_SUCCESS) {
    SetLastError(status);
    return FALSE;
  }
  if (mprotect(reinterpret_cast<void*>(start), end - start, protection) != 0) {
    SetLastError(ProtectFailure(errno));
    return FALSE;
  }
  *lpflOldProtect = oldProtect;
  return TRUE;
}
