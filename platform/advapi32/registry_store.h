// The registry store shared by the registry entry points, the .reg file
// reader and writer, the registry controls and the provider probe: four trees
// of keys, the table of open key handles and the failure controls, all behind
// one mutex.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform_internal.h"

namespace qxplatform {
namespace internal {

// Limits of the registry, in UTF-16 units.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
// How deep below its root a key may lie.
constexpr size_t kMaxKeyDepth = 512;
// Not every SDK version of winerror.h has it: a path of bad syntax.
constexpr LSTATUS kErrorBadPathname = 161;

struct RegValue {
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

// A value as a key keeps it: name and data in one block, where a RegValue
// holds a buffer for each besides itself.
class StoredValue {
 public:
  StoredValue(std::u16string_view name, DWORD type, const uint8_t* data,
              size_t size);

  std::u16string_view Name() const { return {m_block.get(), m_nameLength}; }
  DWORD Type() const { return m_type; }
  const uint8_t* Data() const {
    return reinterpret_cast<const uint8_t*>(m_block.get() + m_nameLength);
  }
  size_t Size() const { return m_dataSize; }
  // New data under the same name.
  void Assign(DWORD type, const uint8_t* data, size_t size);
  RegValue ToRegValue() const;

 private:
  void Fill(std::u16string_view name, const uint8_t* data, size_t size);

  // The name's units, then the data's bytes.
  std::unique_ptr<char16_t[]> m_block;
  uint32_t m_dataSize = 0;
  uint16_t m_nameLength = 0;  // at most kMaxValueNameLength
  DWORD m_type = REG_NONE;
};
static_assert(kMaxValueNameLength <= UINT16_MAX,
              "value name lengths are kept in 16 bits");

// The values of a key in the order they were first set: the part of a
// vector's interface the store uses, in one pointer. The count heads the
// block of values, and the capacity is the count rounded up to a power of
// two, so an empty list costs nothing beyond the pointer.
class ValueList {
 public:
  ValueList() = default;
  ValueList(ValueList&& other) noexcept : m_block(other.m_block) {
    other.m_block = nullptr;
  }
  ValueList& operator=(ValueList&& other) noexcept;
  ~ValueList() { clear(); }

  size_t size() const { return m_block ? m_block->size : 0; }
  bool empty() const { return m_block == nullptr; }
  StoredValue* data() const {
    return m_block ? reinterpret_cast<StoredValue*>(m_block + 1) : nullptr;
  }
  StoredValue* begin() const { return data(); }
  StoredValue* end() const { return data() + size(); }
  StoredValue& operator[](size_t i) const { return data()[i]; }

  void emplace_back(std::u16string_view name, DWORD type, const uint8_t* data,
                    size_t size);
  StoredValue* erase(const StoredValue* at);
  void clear();

 private:
  struct alignas(StoredValue) Block {
    size_t size;
  };
  Block* m_block = nullptr;
};

struct RegKey;

// A counted reference to a key. Keys are shared by their parent and by the
// handles open on them (a deleted key lives on while a handle names it). The
// count and the name live in the key's own allocation: a key costs one block
// where a shared_ptr to a key with a string name took two, and a pointer is
// half the size.
class RegKeyPtr {
 public:
  RegKeyPtr() = default;
  RegKeyPtr(std::nullptr_t) {}  // implicit, as from a null pointer
  RegKeyPtr(const RegKeyPtr& other) : m_key(other.m_key) { Retain(); }
  RegKeyPtr(RegKeyPtr&& other) noexcept : m_key(other.m_key) {
    other.m_key = nullptr;
  }
  RegKeyPtr& operator=(RegKeyPtr other) noexcept {
    std::swap(m_key, other.m_key);
    return *this;
  }
  ~RegKeyPtr() { Release(); }

  // A key named name with no subkeys and no values.
  static RegKeyPtr Make(std::u16string_view name = {});

  RegKey* get() const { return m_key; }
  RegKey& operator*() const { return *m_key; }
  RegKey* operator->() const { return m_key; }
  explicit operator bool() const { return m_key != nullptr; }

 private:
  inline void Retain();
  inline void Release();

  RegKey* m_key = nullptr;
};

// Case folding of names as the registry compares them.
char16_t UpcaseChar(char16_t c);
// The order of the upper-cased names, without making them: negative, zero or
// positive.
int CompareNames(std::u16string_view a, std::u16string_view b);
bool NamesEqual(std::u16string_view a, std::u16string_view b);

// The subkeys of a key in case-insensitive name order, each name held once,
// by the subkey itself. They lie in chunks of up to kChunkLimit, sorted
// within and across chunks, found by binary search over the chunks' last
// names and then within a chunk. Inserting or removing moves at most one
// chunk's entries, and a subkey costs a pointer where a tree node took five.
// Walking by index (RegEnumKeyExA) goes through a cursor on the chunk of
// the last index asked for, so a step to the next or the previous index
// costs O(1). Nothing is allocated until the first subkey: most keys are
// leaves.
class Subkeys {
 public:
  static constexpr uint32_t kChunkLimit = 256;

  class const_iterator {
   public:
    const RegKeyPtr& operator*() const;
    const RegKeyPtr* operator->() const { return &**this; }
    const_iterator& operator++();
    bool operator==(const const_iterator& other) const {
      return m_chunk == other.m_chunk && m_offset == other.m_offset;
    }
    bool operator!=(const const_iterator& other) const {
      return !(*this == other);
    }

   private:
    friend class Subkeys;
    const_iterator(const Subkeys* owner, uint32_t chunk, uint32_t offset)
        : m_owner(owner), m_chunk(chunk), m_offset(offset) {}
    const Subkeys* m_owner;
    uint32_t m_chunk;
    uint32_t m_offset;
  };

  Subkeys() = default;
  Subkeys(const Subkeys&) = delete;
  Subkeys& operator=(const Subkeys&) = delete;
  Subkeys(Subkeys&& other) noexcept : m_index(other.m_index) {
    other.m_index = nullptr;
  }
  Subkeys& operator=(Subkeys&& other) noexcept;
  ~Subkeys() { clear(); }

  size_t size() const;
  bool empty() const { return m_index == nullptr; }
  const_iterator begin() const { return const_iterator(this, 0, 0); }
  const_iterator end() const;
  const_iterator find(std::u16string_view name) const;
  // The subkey at an index, or null past the end.
  const RegKeyPtr* At(size_t index) const;
  // The subkey that sorts last, or null when there is none.
  const RegKeyPtr* Last() const;

  // The key's name must not be taken yet; a key whose name is does nothing.
  void insert(RegKeyPtr key);
  void erase(const_iterator at);
  void clear();

 private:
  struct Chunk;
  struct Index;
  // Where key would go: its chunk and offset; false when the name is taken.
  bool Place(std::u16string_view name, uint32_t* chunk, uint32_t* offset) const;
  void SplitChunk(uint32_t chunk);
  void ResetCursor() const;

  // The chunks, the count and the cursor, in one block; null when empty.
  // Enumeration only moves the cursor; the store's mutex covers it.
  Index* m_index = nullptr;
};

// Made by RegKeyPtr::Make only: the name's units follow the key in its block.
struct RegKey {
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // Never changes: the parent's index orders by it.
  std::u16string_view Name() const {
    return {reinterpret_cast<const char16_t*>(this + 1), nameLength};
  }

  Subkeys subkeys;
  // Kept in the order they were first set, the order Windows enumerates.
  ValueList values;
  FILETIME lastWrite{};
  uint16_t depth = 0;      // levels below the root, at most kMaxKeyDepth
  uint8_t nameLength = 0;  // at most kMaxKeyNameLength
  bool denyWrite = false;
  bool isVolatile = false;
  // Set when the key leaves the tree; handles still open on it answer
  // ERROR_KEY_DELETED.
  bool deleted = false;

  StoredValue* FindValue(std::u16string_view valueName);

 private:
  friend class RegKeyPtr;
  RegKey() = default;
  ~RegKey() = default;

  std::atomic<uint32_t> references{1};
};
static_assert(kMaxKeyDepth <= UINT16_MAX, "depth is kept in 16 bits");
static_assert(kMaxKeyNameLength <= UINT8_MAX,
              "name lengths are kept in 8 bits");
static_assert(sizeof(RegKey) % alignof(char16_t) == 0,
              "the name follows the key");

void RegKeyPtr::Retain() {
  if (m_key != nullptr)
    m_key->references.fetch_add(1, std::memory_order_relaxed);
}

void RegKeyPtr::Release() {
  if (m_key != nullptr &&
      m_key->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    m_key->~RegKey();
    ::operator delete(m_key);
  }
}

// The levels of a key path, as views into the path's text. Paths of up to
// kInlineLevels levels, nearly all of them, need no allocation.
class KeyLevels {
 public:
  size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  std::u16string_view operator[](size_t i) const { return Data()[i]; }
  std::u16string_view back() const { return Data()[m_size - 1]; }
  const std::u16string_view* begin() const { return Data(); }
  const std::u16string_view* end() const { return Data() + m_size; }
  void push_back(std::u16string_view level);
  void pop_back() { --m_size; }
  void clear() {
    m_size = 0;
    m_spill.clear();
  }

 private:
  static constexpr size_t kInlineLevels = 16;
  const std::u16string_view* Data() const {
    return m_spill.empty() ? m_inline : m_spill.data();
  }
  std::u16string_view m_inline[kInlineLevels];
  std::vector<std::u16string_view> m_spill;
  size_t m_size = 0;
};

// The four trees that exist; the other predefined handles have none here.
enum class RootId { kClassesRoot, kCurrentUser, kLocalMachine, kUsers };
constexpr int kRootCount = 4;

struct RootInfo {
  RootId id;
  HKEY handle;
  const char* longName;
  const char* shortName;
};
extern const RootInfo kRoots[kRootCount];

// An open key handle: the key it names and the rights it was granted.
struct KeyHandle {
  RegKeyPtr key;
  REGSAM granted = 0;
};

struct RegistryState {
  std::mutex mutex;
  RegKeyPtr roots[kRootCount];
  std::unordered_map<uintptr_t, KeyHandle> handles;
  uintptr_t nextHandle = 0x1000;
  bool changed = false;
  FailureCountdown failCreate;
  FailureCountdown failClose;

  RegistryState();
};

// The one store of the process.
RegistryState& Registry();

FILETIME CurrentFileTime();

// The root a predefined handle value names, or null for any other value.
const RootInfo* FindRootByHandle(HKEY key);
// "HKEY_LOCAL_MACHINE" or "HKLM" (any case), or null.
const RootInfo* FindRootByName(std::u16string_view name);

// Splits a subkey path into its levels. A trailing backslash is tolerated; a
// leading one or an empty level is a syntax error (kErrorBadPathname); a
// level over 255 units or more than kMaxKeyDepth levels is
// ERROR_INVALID_PARAMETER.
LSTATUS SplitKeyPath(std::u16string_view path, KeyLevels* levels);

// Looks up a direct subkey; null when it does not exist.
RegKeyPtr FindSubkey(const RegKey& parent, std::u16string_view name);
// Walks the levels from a key; null when one of them is missing.
RegKeyPtr FindPath(const RegKeyPtr& from, const KeyLevels& levels);
// Makes a subkey (which must not exist yet) and touches the parent.
RegKeyPtr AddSubkey(RegKey& parent, std::u16string_view name);
// The direct subkey of that name, made (as AddSubkey does) when missing;
// *added tells which. Quickest when names come in order.
RegKeyPtr FindOrAddSubkey(RegKey& parent, std::u16string_view name,
                          bool* added);
// Takes a direct subkey out of its parent (the key itself is not marked).
void RemoveSubkey(RegKey& parent, std::u16string_view name);
// Marks a key and everything below it as deleted.
void MarkTreeDeleted(RegKey& key);
// Stores a value, replacing one of the same name in its place.
void SetValue(RegKey& key, std::u16string_view name, DWORD type,
              const uint8_t* data, size_t size);
void SetValue(RegKey& key, std::u16string_view name, DWORD type,
              const std::vector<uint8_t>& data);

// Reads a value straight from the store, bypassing handles and access
// checks. *keyExists tells whether root\path exists; the result whether the
// value does.
bool ReadStoredValue(HKEY root, std::u16string_view path,
                     std::u16string_view valueName, bool* keyExists,
                     RegValue* value);

}  // namespace internal
}  // namespace qxplatform
