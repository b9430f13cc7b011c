// Puts one type of a compiled type library at another place in its list:
//
//   order_types IN.tlb OUT.tlb MOVED BEFORE
//
// writes IN with the type named MOVED taken out of the list and put back
// just before the type named BEFORE, every reference to a type of the
// library following it to its new place.
//
// Older compilers name the types of the standard automation library by
// their index, so the platform's stdole2 must list its types in the order
// of the real one. The compiler numbers types as it first meets them, and a
// class meets its event interface (StdFont's FontEvents) long before that
// interface's own place; this step puts it back there.
//
// A type is named by its place: type i is the record at i * 0x64 of the
// type segment, and that offset is the reference ("href") to it. Those
// references sit in the reference table (a class's interfaces), in the
// type descriptions (user-defined types), in the GUID and name tables (the
// type each entry belongs to), in an interface's base, and in the header's
// IDispatch reference. Each record also carries its own index. Everything
// else (member blocks, hash tables, strings) does not depend on the order.
// Only libraries of the layout this platform's compiler writes are taken;
// anything unexpected fails the step rather than writing a damaged library.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

constexpr size_t kHeaderSize = 0x54;
constexpr uint32_t kHelpStringDllFlag = 0x100;
constexpr int kSegmentCount = 15;
constexpr int32_t kTypeInfoSize = 0x64;
constexpr int kTypeInfos = 0;
constexpr int kRefTable = 3;
constexpr int kGuidTable = 5;
constexpr int kNameTable = 7;
constexpr int kTypeDescs = 9;
constexpr uint16_t kUserDefined = 29;  // VT_USERDEFINED
constexpr uint32_t kKindMask = 0xF;
constexpr uint32_t kInterfaceKind = 3;  // TKIND_INTERFACE
constexpr uint32_t kDispatchKind = 4;   // TKIND_DISPATCH

struct Segment {
  size_t offset = 0;
  size_t length = 0;
};

class Library {
 public:
  explicit Library(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}

  // Reads the header and the directory; false when they do not hold.
  bool Open() {
    if (m_bytes.size() < kHeaderSize || memcmp(m_bytes.data(), "MSFT", 4) != 0)
      return false;
    m_count = I32(0x20);
    const size_t table =
        kHeaderSize + ((U32(0x14) & kHelpStringDllFlag) ? 4 : 0);
    const size_t directory = table + 4 * static_cast<size_t>(m_count);
    if (m_count <= 0 || directory + 16 * kSegmentCount > m_bytes.size())
      return false;
    for (int i = 0; i < kSegmentCount; ++i) {
      const int32_t offset = I32(directory + 16 * i);
      const int32_t length = I32(directory + 16 * i + 4);
      if (offset == -1) continue;
      if (offset < 0 || length < 0 ||
          static_cast<size_t>(offset) + static_cast<size_t>(length) >
              m_bytes.size())
        return false;
      m_segments[i] = {static_cast<size_t>(offset),
                       static_cast<size_t>(length)};
    }
    return m_segments[kTypeInfos].length >=
           static_cast<size_t>(m_count) * kTypeInfoSize;
  }

  int32_t count() const { return m_count; }

  // The index of the type named name, or -1.
  int32_t Find(const std::string& name) const {
    for (int32_t i = 0; i < m_count; ++i) {
      const int32_t entry = I32(Record(i) + 0x34);
      const size_t at = m_segments[kNameTable].offset + entry;
      if (entry < 0 || at + 12 > End(kNameTable)) continue;
      const size_t length = m_bytes[at + 8];
      if (at + 12 + length <= End(kNameTable) && length == name.size() &&
          memcmp(&m_bytes[at + 12], name.data(), length) == 0)
        return i;
    }
    return -1;
  }

  // Type i goes to place to[i]; to is a permutation of the indexes.
  bool Reorder(const std::vector<int32_t>& to) {
    m_to = to;
    std::vector<uint8_t> records(static_cast<size_t>(m_count) * kTypeInfoSize);
    for (int32_t i = 0; i < m_count; ++i) {
      const size_t at = Record(i);
      const uint32_t kind = U32(at) & kKindMask;
      // The record's own index, in the high half of its kind word.
      SetU32(at, (U32(at) & 0xFFFF) | (static_cast<uint32_t>(to[i]) << 16));
      if ((kind == kInterfaceKind || kind == kDispatchKind) &&
          !MapHref(at + 0x54))
        return false;
      memcpy(&records[static_cast<size_t>(to[i]) * kTypeInfoSize], &m_bytes[at],
             kTypeInfoSize);
    }
    memcpy(&m_bytes[m_segments[kTypeInfos].offset], records.data(),
           records.size());
    if (!MapHref(0x4C)) return false;
    for (size_t at = m_segments[kRefTable].offset; at + 16 <= End(kRefTable);
         at += 16) {
      if (!MapHref(at)) return false;
    }
    for (size_t at = m_segments[kTypeDescs].offset; at + 8 <= End(kTypeDescs);
         at += 8) {
      if ((U16(at) & 0x7FFF) == kUserDefined && !MapHref(at + 4)) return false;
    }
    for (size_t at = m_segments[kGuidTable].offset; at + 24 <= End(kGuidTable);
         at += 24) {
      if (!MapHref(at + 16)) return false;
    }
    for (size_t at = m_segments[kNameTable].offset; at + 12 <= End(kNameTable);
         at += (12 + m_bytes[at + 8] + 3) & ~size_t(3)) {
      if (!MapHref(at)) return false;
    }
    return true;
  }

  const std::vector<uint8_t>& bytes() const { return m_bytes; }

 private:
  size_t Record(int32_t index) const {
    return m_segments[kTypeInfos].offset +
           static_cast<size_t>(index) * kTypeInfoSize;
  }
  size_t End(int segment) const {
    return m_segments[segment].offset + m_segments[segment].length;
  }
  uint16_t U16(size_t at) const {
    return static_cast<uint16_t>(m_bytes[at] | m_bytes[at + 1] << 8);
  }
  uint32_t U32(size_t at) const {
    return static_cast<uint32_t>(m_bytes[at]) |
           static_cast<uint32_t>(m_bytes[at + 1]) << 8 |
           static_cast<uint32_t>(m_bytes[at + 2]) << 16 |
           static_cast<uint32_t>(m_bytes[at + 3]) << 24;
  }
  int32_t I32(size_t at) const { return static_cast<int32_t>(U32(at)); }
  void SetU32(size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) m_bytes[at + i] = (value >> (8 * i)) & 0xFF;
  }

  // The word at is an href, or -1, -2 or another library's reference (odd):
  // a reference to a type of this library follows the type.
  bool MapHref(size_t at) {
    const int32_t href = I32(at);
    if (href < 0 || (href & 1) != 0 || href % kTypeInfoSize != 0) return true;
    if (href / kTypeInfoSize >= m_count) return false;
    SetU32(at,
           static_cast<uint32_t>(m_to[href / kTypeInfoSize]) * kTypeInfoSize);
    return true;
  }

  std::vector<uint8_t> m_bytes;
  Segment m_segments[kSegmentCount];
  int32_t m_count = 0;
  std::vector<int32_t> m_to;
};

bool ReadFile(const char* path, std::vector<uint8_t>* bytes) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return false;
  uint8_t buffer[4096];
  size_t read = 0;
  while ((read = fread(buffer, 1, sizeof(buffer), file)) > 0)
    bytes->insert(bytes->end(), buffer, buffer + read);
  const bool ok = ferror(file) == 0;
  fclose(file);
  return ok;
}

bool WriteFile(const char* path, const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path, "wb");
  if (file == nullptr) return false;
  const bool written =
      fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: %s IN.tlb OUT.tlb MOVED BEFORE\n", argv[0]);
    return 2;
  }
  std::vector<uint8_t> bytes;
  if (!ReadFile(argv[1], &bytes)) {
    fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 1;
  }
  Library library(std::move(bytes));
  if (!library.Open()) {
    fprintf(stderr, "%s: not a type library of the expected layout\n", argv[1]);
    return 1;
  }
  const int32_t moved = library.Find(argv[3]);
  const int32_t before = library.Find(argv[4]);
  if (moved < 0 || before < 0) {
    fprintf(stderr, "%s: no type %s\n", argv[1], moved < 0 ? argv[3] : argv[4]);
    return 1;
  }
  // The list without the moved type, then the moved type put in.
  std::vector<int32_t> order;
  for (int32_t i = 0; i < library.count(); ++i) {
    if (i == before) order.push_back(moved);
    if (i != moved) order.push_back(i);
  }
  std::vector<int32_t> to(order.size());
  for (size_t place = 0; place < order.size(); ++place)
    to[order[place]] = static_cast<int32_t>(place);
  if (!library.Reorder(to)) {
    fprintf(stderr, "%s: a reference to a type that is not there\n", argv[1]);
    return 1;
  }
  if (!WriteFile(argv[2], library.bytes())) {
    fprintf(stderr, "%s: cannot write\n", argv[2]);
    return 1;
  }
  return 0;
}
