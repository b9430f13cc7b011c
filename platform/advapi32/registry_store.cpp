// The registry store: keys, values, name folding and path splitting. The
// entry points, the file reader and the controls all work through these
// helpers while holding the store's mutex.
#include "registry_store.h"

#include <algorithm>
#include <ctime>
#include <cstring>
#include <new>

namespace qxplatform {
namespace internal {

const RootInfo kRoots[kRootCount] = {
    {RootId::kClassesRoot, HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
    {RootId::kCurrentUser, HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {RootId::kLocalMachine, HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
    {RootId::kUsers, HKEY_USERS, "HKEY_USERS", "HKU"},
};

namespace {

// Lower-case ranges that map to upper case by a fixed offset.
struct CaseRange {
  char16_t first;
  char16_t last;
  int offset;
};
constexpr CaseRange kOffsetRanges[] = {
    {u'a', u'z', -0x20},     {0x00E0, 0x00F6, -0x20}, {0x00F8, 0x00FE, -0x20},
    {0x03AD, 0x03AF, -0x25}, {0x03B1, 0x03C1, -0x20}, {0x03C3, 0x03CB, -0x20},
    {0x03CD, 0x03CE, -0x3F}, {0x0430, 0x044F, -0x20}, {0x0450, 0x045F, -0x50},
    {0x0561, 0x0586, -0x30}, {0x2170, 0x217F, -0x10}, {0x24D0, 0x24E9, -0x1A},
    {0xFF41, 0xFF5A, -0x20},
};

// Ranges of alternating upper/lower pairs; lowerIsOdd tells which of each
// pair is the lower-case letter.
struct PairRange {
  char16_t first;
  char16_t last;
  bool lowerIsOdd;
};
constexpr PairRange kPairRanges[] = {
    {0x0100, 0x0137, true},  {0x0139, 0x0148, false}, {0x014A, 0x0177, true},
    {0x0179, 0x017E, false}, {0x0460, 0x0481, true},  {0x048A, 0x04BF, true},
    {0x04C1, 0x04CE, false}, {0x04D0, 0x052F, true},
};

struct CaseSingle {
  char16_t lower;
  char16_t upper;
};
constexpr CaseSingle kSingles[] = {
    {0x00FF, 0x0178}, {0x03AC, 0x0386}, {0x03C2, 0x03A3}, {0x03CC, 0x038C}};

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

bool EqualsIgnoreAsciiCase(std::u16string_view text, const char* ascii) {
  size_t i = 0;
  for (; ascii[i] != '\0'; ++i) {
    if (i >= text.size()) return false;
    char16_t a = text[i];
    char16_t b = static_cast<unsigned char>(ascii[i]);
    if (a >= u'a' && a <= u'z') a -= 0x20;
    if (b >= u'a' && b <= u'z') b -= 0x20;
    if (a != b) return false;
  }
  return i == text.size();
}

// Names are mostly ASCII: fold those without the tables.
inline char16_t FoldUnit(char16_t c) {
  if (c < 0x80)
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
  return UpcaseChar(c);
}

}  // namespace

int CompareNames(std::u16string_view a, std::u16string_view b) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    char16_t x = FoldUnit(a[i]);
    char16_t y = FoldUnit(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNames(a, b) == 0;
}

void KeyLevels::push_back(std::u16string_view level) {
  if (m_spill.empty() && m_size < kInlineLevels) {
    m_inline[m_size++] = level;
    return;
  }
  if (m_spill.empty()) m_spill.assign(m_inline, m_inline + m_size);
  m_spill.resize(m_size);
  m_spill.push_back(level);
  ++m_size;
}

StoredValue::StoredValue(std::u16string_view name, DWORD type,
                         const uint8_t* data, size_t size)
    : m_type(type) {
  Fill(name, data, size);
}

void StoredValue::Assign(DWORD type, const uint8_t* data, size_t size) {
  if (size == m_dataSize) {
    if (size != 0) std::memcpy(m_block.get() + m_nameLength, data, size);
  } else {
    std::u16string name(Name());
    Fill(name, data, size);
  }
  m_type = type;
}

void StoredValue::Fill(std::u16string_view name, const uint8_t* data,
                       size_t size) {
  size_t units = name.size() + (size + 1) / 2;
  std::unique_ptr<char16_t[]> block;
  if (units != 0) block.reset(new char16_t[units]);
  if (!name.empty())
    std::memcpy(block.get(), name.data(), name.size() * sizeof(char16_t));
  if (size != 0) std::memcpy(block.get() + name.size(), data, size);
  m_block = std::move(block);
  m_nameLength = static_cast<uint16_t>(name.size());
  m_dataSize = static_cast<uint32_t>(size);
}

RegValue StoredValue::ToRegValue() const {
  RegValue value;
  value.name = std::u16string(Name());
  value.type = m_type;
  value.data.assign(Data(), Data() + m_dataSize);
  return value;
}

RegKeyPtr RegKeyPtr::Make(std::u16string_view name) {
  void* block = ::operator new(sizeof(RegKey) + name.size() * sizeof(char16_t));
  RegKey* key = new (block) RegKey();
  key->nameLength = static_cast<uint8_t>(name.size());
  if (!name.empty())
    std::memcpy(static_cast<char*>(block) + sizeof(RegKey), name.data(),
                name.size() * sizeof(char16_t));
  RegKeyPtr made;
  made.m_key = key;  // the count of one it was made with
  return made;
}

ValueList& ValueList::operator=(ValueList&& other) noexcept {
  if (this != &other) {
    clear();
    std::swap(m_block, other.m_block);
  }
  return *this;
}

namespace {

bool IsPowerOfTwo(size_t n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

void ValueList::emplace_back(std::u16string_view name, DWORD type,
                             const uint8_t* data, size_t size) {
  size_t count = this->size();
  if (count == 0 || IsPowerOfTwo(count)) {
    size_t capacity = count == 0 ? 1 : count * 2;
    auto* grown = static_cast<Block*>(
        ::operator new(sizeof(Block) + capacity * sizeof(StoredValue)));
    grown->size = count;
    auto* items = reinterpret_cast<StoredValue*>(grown + 1);
    StoredValue* old = this->data();
    for (size_t i = 0; i < count; ++i) {
      new (items + i) StoredValue(std::move(old[i]));
      old[i].~StoredValue();
    }
    ::operator delete(m_block);
    m_block = grown;
  }
  new (this->data() + count) StoredValue(name, type, data, size);
  ++m_block->size;
}

StoredValue* ValueList::erase(const StoredValue* at) {
  StoredValue* items = data();
  size_t index = static_cast<size_t>(at - items);
  size_t count = m_block->size;
  for (size_t i = index; i + 1 < count; ++i) items[i] = std::move(items[i + 1]);
  items[count - 1].~StoredValue();
  if (--m_block->size == 0) {
    ::operator delete(m_block);
    m_block = nullptr;
    return nullptr;
  }
  return items + index;
}

void ValueList::clear() {
  StoredValue* items = data();
  for (size_t i = 0; i < size(); ++i) items[i].~StoredValue();
  ::operator delete(m_block);
  m_block = nullptr;
}

StoredValue* RegKey::FindValue(std::u16string_view valueName) {
  for (StoredValue& value : values) {
    if (NamesEqual(value.Name(), valueName)) return &value;
  }
  return nullptr;
}

RegistryState::RegistryState() {
  for (RegKeyPtr& root : roots) {
    root = RegKeyPtr::Make();
    root->lastWrite = CurrentFileTime();
  }
}

RegistryState& Registry() {
  static RegistryState* state = new RegistryState();  // never destroyed:
  return *state;  // libraries may still close keys while the process exits
}

char16_t UpcaseChar(char16_t c) {
  if (c < u'a') return c;
  for (const CaseRange& range : kOffsetRanges) {
    if (c >= range.first && c <= range.last)
      return static_cast<char16_t>(c + range.offset);
  }
  for (const PairRange& range : kPairRanges) {
    if (c >= range.first && c <= range.last) {
      bool odd = (c & 1) != 0;
      return odd == range.lowerIsOdd ? static_cast<char16_t>(c - 1) : c;
    }
  }
  for (const CaseSingle& single : kSingles) {
    if (c == single.lower) return single.upper;
  }
  return c;
}

// The system clock at the tick the kernel last counted, as Windows stamps a
// key with its coarse system time: a few milliseconds apart at most, and a
// fraction of the cost of reading the clock exactly, which loading a large
// file would do for every key and value.
FILETIME CurrentFileTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  uint64_t ticks = static_cast<uint64_t>(now.tv_sec) * 10000000u +
                   static_cast<uint64_t>(now.tv_nsec) / 100 +
                   kUnixEpochAsFileTime;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

const RootInfo* FindRootByHandle(HKEY key) {
  for (const RootInfo& root : kRoots) {
    if (root.handle == key) return &root;
  }
  return nullptr;
}

const RootInfo* FindRootByName(std::u16string_view name) {
  for (const RootInfo& root : kRoots) {
    if (EqualsIgnoreAsciiCase(name, root.longName) ||
        EqualsIgnoreAsciiCase(name, root.shortName))
      return &root;
  }
  return nullptr;
}

LSTATUS SplitKeyPath(std::u16string_view path, KeyLevels* levels) {
  levels->clear();
  if (path.empty()) return ERROR_SUCCESS;
  if (path.front() == u'\\') return kErrorBadPathname;
  if (path.back() == u'\\') path.remove_suffix(1);
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    std::u16string_view level = path.substr(start, end - start);
    if (level.empty()) return kErrorBadPathname;
    if (level.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    if (levels->size() == kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    levels->push_back(level);
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

RegKeyPtr FindOrAddSubkey(RegKey& parent, std::u16string_view name,
                          bool* added) {
  const RegKeyPtr* last = parent.subkeys.Last();
  *added = last == nullptr || CompareNames((*last)->Name(), name) < 0;
  if (!*added) {
    RegKeyPtr found = FindSubkey(parent, name);
    if (found) return found;
    *added = true;
  }
  return AddSubkey(parent, name);
}

RegKeyPtr FindSubkey(const RegKey& parent, std::u16string_view name) {
  auto found = parent.subkeys.find(name);
  return found == parent.subkeys.end() ? nullptr : *found;
}

namespace {

// Walks without touching reference counts but for the key it ends on.
template <typename Levels>
RegKeyPtr WalkLevels(const RegKeyPtr& from, const Levels& levels) {
  const RegKeyPtr* key = &from;
  for (std::u16string_view level : levels) {
    auto found = (*key)->subkeys.find(level);
    if (found == (*key)->subkeys.end()) return nullptr;
    key = &*found;
  }
  return *key;
}

}  // namespace

RegKeyPtr FindPath(const RegKeyPtr& from, const KeyLevels& levels) {
  return WalkLevels(from, levels);
}

RegKeyPtr AddSubkey(RegKey& parent, std::u16string_view name) {
  RegKeyPtr key = RegKeyPtr::Make(name);
  key->depth = static_cast<uint16_t>(parent.depth + 1);
  key->lastWrite = CurrentFileTime();
  parent.subkeys.insert(key);
  parent.lastWrite = key->lastWrite;
  return key;
}

void RemoveSubkey(RegKey& parent, std::u16string_view name) {
  auto found = parent.subkeys.find(name);
  if (found != parent.subkeys.end()) parent.subkeys.erase(found);
}

void MarkTreeDeleted(RegKey& key) {
  key.deleted = true;
  for (const RegKeyPtr& subkey : key.subkeys) MarkTreeDeleted(*subkey);
}

void SetValue(RegKey& key, std::u16string_view name, DWORD type,
              const uint8_t* data, size_t size) {
  StoredValue* value = key.FindValue(name);
  if (value == nullptr) {
    key.values.emplace_back(name, type, data, size);
  } else {
    value->Assign(type, data, size);
  }
  key.lastWrite = CurrentFileTime();
}

void SetValue(RegKey& key, std::u16string_view name, DWORD type,
              const std::vector<uint8_t>& data) {
  SetValue(key, name, type, data.data(), data.size());
}

bool ReadStoredValue(HKEY root, std::u16string_view path,
                     std::u16string_view valueName, bool* keyExists,
                     RegValue* value) {
  *keyExists = false;
  const RootInfo* rootInfo = FindRootByHandle(root);
  if (rootInfo == nullptr) return false;
  KeyLevels levels;
  if (SplitKeyPath(path, &levels) != ERROR_SUCCESS) return false;
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  RegKeyPtr key = FindPath(state.roots[static_cast<int>(rootInfo->id)], levels);
  if (!key) return false;
  *keyExists = true;
  StoredValue* found = key->FindValue(valueName);
  if (found == nullptr) return false;
  *value = found->ToRegValue();
  return true;
}

}  // namespace internal
}  // namespace qxplatform
