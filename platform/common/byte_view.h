// Little-endian reads from a block of bytes that can never leave it: every
// read says whether the whole value was inside.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace qxplatform {
namespace internal {

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  size_t size() const { return m_size; }
  const uint8_t* data() const { return m_data; }

  // True when [offset, offset + length) lies inside the block.
  bool Contains(int64_t offset, int64_t length) const {
    return offset >= 0 && length >= 0 &&
           static_cast<uint64_t>(offset) <= m_size &&
           static_cast<uint64_t>(length) <=
               m_size - static_cast<uint64_t>(offset);
  }

  bool U8(int64_t offset, uint8_t* value) const { return Read(offset, value); }
  bool U16(int64_t offset, uint16_t* value) const {
    return Read(offset, value);
  }
  bool I16(int64_t offset, int16_t* value) const { return Read(offset, value); }
  bool U32(int64_t offset, uint32_t* value) const {
    return Read(offset, value);
  }
  bool I32(int64_t offset, int32_t* value) const { return Read(offset, value); }
  bool Bytes(int64_t offset, void* out, size_t length) const {
    if (!Contains(offset, static_cast<int64_t>(length))) return false;
    if (length != 0) memcpy(out, m_data + offset, length);
    return true;
  }
  // The sub-block [offset, offset + length).
  bool Slice(int64_t offset, int64_t length, ByteView* slice) const {
    if (!Contains(offset, length)) return false;
    *slice = ByteView(m_data + offset, static_cast<size_t>(length));
    return true;
  }

 private:
  // The platform is little-endian, as the format is.
  template <typename T>
  bool Read(int64_t offset, T* value) const {
    return Bytes(offset, value, sizeof(T));
  }

  const uint8_t* m_data = nullptr;
  size_t m_size = 0;
};

}  // namespace internal
}  // namespace qxplatform
