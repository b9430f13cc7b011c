// Bounded random access to the bytes of a module file, from the file itself
// or from memory. Every read names its range and fails as a whole when the
// range reaches outside, so a parser built on it cannot read past the end.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <windows.h>

#include <string>
#include <vector>

#include "byte_view.h"

namespace qxplatform {
namespace internal {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // False, with out untouched or only partly written, when [offset, offset +
  // count) is not wholly inside or the read fails.
  virtual bool Read(uint64_t offset, size_t count, void* out) const = 0;

  // The range [offset, offset + count) lies inside, without overflow.
  bool Holds(uint64_t offset, uint64_t count) const {
    return offset <= Size() && count <= Size() - offset;
  }
  // Reads [offset, offset + count) into *out, replacing its contents.
  bool ReadBlock(uint64_t offset, uint64_t count, std::vector<BYTE>* out) const;
};

// Bytes in memory, read through the one bounded view of them.
class MemorySource : public ByteSource {
 public:
  MemorySource(const BYTE* data, size_t size) : m_view(data, size) {}
  uint64_t Size() const override { return m_view.size(); }
  bool Read(uint64_t offset, size_t count, void* out) const override {
    return offset <= static_cast<uint64_t>(INT64_MAX) &&
           m_view.Bytes(static_cast<int64_t>(offset), out, count);
  }

 private:
  ByteView m_view;
};

// A regular file, read with positioned reads; a file that shrinks under
// the reader makes the reads past its new end fail.
class FileSource : public ByteSource {
 public:
  FileSource() = default;
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  // ERROR_SUCCESS, or the Win32 error for why the file cannot be read:
  // ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, or
  // ERROR_BAD_EXE_FORMAT for something that is not a regular file.
  DWORD Open(const std::string& path);
  uint64_t Size() const override { return m_size; }
  bool Read(uint64_t offset, size_t count, void* out) const override;

 private:
  int m_fd = -1;
  uint64_t m_size = 0;
};

// Little-endian fields out of a buffer the caller has bounds-checked.
inline WORD ReadWord(const BYTE* p) {
  return static_cast<WORD>(p[0] | (p[1] << 8));
}
inline DWORD ReadDword(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
         (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}
inline uint64_t ReadQword(const BYTE* p) {
  return static_cast<uint64_t>(ReadDword(p)) |
         (static_cast<uint64_t>(ReadDword(p + 4)) << 32);
}

}  // namespace internal
}  // namespace qxplatform
