// What the image mapper's tests share: the bytes of a PE file with its
// header fields at hand (to damage them), the address space as
// /proc/self/maps shows it, and a resolver that records what it is asked.
#pragma once
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <windows.h>

#include <fstream>
#include <cstdint>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "pe_image.h"

namespace pe_test {

constexpr char kFeaturesDll[] =
    QX_SOURCE_DIR "/tests/platform/fixtures/pe_features.dll";

inline std::vector<BYTE> ReadBytes(const char* path, size_t limit = SIZE_MAX) {
  std::ifstream in(path, std::ios::binary);
  std::vector<BYTE> bytes;
  std::istreambuf_iterator<char> it(in), end;
  for (; it != end && bytes.size() < limit; ++it)
    bytes.push_back(static_cast<BYTE>(*it));
  return bytes;
}

// A PE file's bytes, with the offsets of its headers' fields.
struct PeFile {
  std::vector<BYTE> bytes;

  uint16_t Get16(size_t offset) const {
    return static_cast<uint16_t>(bytes.at(offset) | bytes.at(offset + 1) << 8);
  }
  void Set16(size_t offset, uint32_t value) {
    bytes.at(offset) = static_cast<BYTE>(value);
    bytes.at(offset + 1) = static_cast<BYTE>(value >> 8);
  }
  uint32_t Get32(size_t offset) const {
    return Get16(offset) | uint32_t{Get16(offset + 2)} << 16;
  }
  void Set32(size_t offset, uint32_t value) {
    Set16(offset, value);
    Set16(offset + 2, value >> 16);
  }

  size_t Nt() const { return Get32(0x3C); }
  size_t FileHeader() const { return Nt() + 4; }
  size_t Optional() const { return Nt() + 24; }
  size_t SectionCount() const { return Get16(FileHeader() + 2); }
  size_t Section(size_t index) const {
    return Optional() + Get16(FileHeader() + 16) + 40 * index;
  }
  size_t Directory(size_t index) const { return Optional() + 96 + 8 * index; }
  uint32_t PreferredBase() const { return Get32(Optional() + 28); }
  uint32_t ImageSize() const { return Get32(Optional() + 56); }
  uint32_t HeadersSize() const { return Get32(Optional() + 60); }

  // The file offset of the byte at rva.
  size_t Offset(uint32_t rva) const {
    if (rva < HeadersSize()) return rva;
    for (size_t index = 0; index < SectionCount(); ++index) {
      const size_t header = Section(index);
      const uint32_t start = Get32(header + 12);
      if (rva >= start && rva - start < Get32(header + 16))
        return Get32(header + 20) + (rva - start);
    }
    ADD_FAILURE() << "rva 0x" << std::hex << rva << " is in no file bytes";
    return 0;
  }
};

// The last section becomes the last bytes of the image, all from the file,
// so that a table written there runs into the image's end. The relocations,
// which live there, are dropped. Returns the offset of those bytes.
struct Tail {
  uint32_t rva;
  size_t offset;
  size_t size;
};
inline Tail MakeTail(PeFile* file) {
  file->Set32(file->Directory(5), 0);
  file->Set32(file->Directory(5) + 4, 0);
  const size_t last = file->Section(file->SectionCount() - 1);
  const uint32_t rva = file->Get32(last + 12);
  const uint32_t rawSize = file->Get32(last + 16);
  file->Set32(last + 8, rawSize);
  file->Set32(file->Optional() + 56, rva + rawSize);
  return {rva, file->Get32(last + 20), rawSize};
}

// The mappings of the process and the bytes they span, read from
// /proc/self/maps without allocating, so that looking does not change them.
struct AddressSpace {
  int mappings = 0;
  uint64_t bytes = 0;
};
inline AddressSpace Mapped() {
  AddressSpace space;
  int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return space;
  char buffer[4096];
  // Each line starts "start-end " in hex; the rest of it is skipped.
  enum { kStart, kEnd, kRest } state = kStart;
  uint64_t start = 0, end = 0;
  ssize_t got;
  while ((got = read(fd, buffer, sizeof(buffer))) > 0) {
    for (ssize_t index = 0; index < got; ++index) {
      const char unit = buffer[index];
      const int digit = unit >= '0' && unit <= '9'   ? unit - '0'
                        : unit >= 'a' && unit <= 'f' ? unit - 'a' + 10
                                                     : -1;
      if (state == kStart && digit >= 0) {
        start = start * 16 + digit;
      } else if (state == kStart) {
        state = kEnd;
      } else if (state == kEnd && digit >= 0) {
        end = end * 16 + digit;
      } else if (state == kEnd) {
        space.bytes += end - start;
        ++space.mappings;
        state = kRest;
      }
      if (unit == '\n') {
        state = kStart;
        start = end = 0;
      }
    }
  }
  close(fd);
  return space;
}

// No page of [address, address + size) is mapped.
inline bool RangeIsFree(uintptr_t address, size_t size) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  unsigned char resident;
  for (size_t at = address & ~(page - 1); at < address + size; at += page) {
    if (mincore(reinterpret_cast<void*>(at), page, &resident) == 0 ||
        errno != ENOMEM)
      return false;
  }
  return true;
}

// The access of the mapping holding address, as "r-x" and the like.
inline std::string Access(const void* address) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  const uintptr_t wanted = reinterpret_cast<uintptr_t>(address);
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    uintptr_t start = 0, end = 0;
    char dash = 0;
    std::string permissions;
    fields >> std::hex >> start >> dash >> end >> permissions;
    if (wanted >= start && wanted < end) return permissions.substr(0, 3);
  }
  return "unmapped";
}

// Holds [address, address + size) so that an image cannot go there.
class Occupied {
 public:
  Occupied(uintptr_t address, size_t size) : m_size(size) {
    void* at = mmap(reinterpret_cast<void*>(address), size, PROT_NONE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    m_at = at == MAP_FAILED ? nullptr : at;
    if (m_at != nullptr && m_at != reinterpret_cast<void*>(address)) {
      munmap(m_at, size);
      m_at = nullptr;
    }
  }
  ~Occupied() {
    if (m_at != nullptr) munmap(m_at, m_size);
  }
  Occupied(const Occupied&) = delete;
  Occupied& operator=(const Occupied&) = delete;
  bool Holds() const { return m_at != nullptr; }

 private:
  void* m_at = nullptr;
  size_t m_size;
};

// A resolver that records every request as "LIBRARY!name" or "LIBRARY!#7"
// and answers each with an address of its own, or refuses those named in
// refuse (an import, or every import of a library as "LIBRARY!*") with the
// error given there.
struct Requests {
  static constexpr uintptr_t kFirstAddress = 0x10000000;
  std::vector<std::string> asked;
  std::map<std::string, DWORD> refuse;

  static uintptr_t AddressOf(size_t request) {
    return kFirstAddress + 16 * request;
  }

  static bool Resolve(void* context,
                      const qxplatform::internal::PeImport& import,
                      uintptr_t* address, DWORD* error) {
    Requests* requests = static_cast<Requests*>(context);
    const std::string library = import.library;
    const std::string key =
        library + "!" +
        (import.name != nullptr ? std::string(import.name)
                                : "#" + std::to_string(import.ordinal));
    requests->asked.push_back(key);
    auto refused = requests->refuse.find(key);
    if (refused == requests->refuse.end())
      refused = requests->refuse.find(library + "!*");
    if (refused != requests->refuse.end()) {
      *error = refused->second;
      return false;
    }
    *address = AddressOf(requests->asked.size() - 1);
    return true;
  }
};

}  // namespace pe_test
