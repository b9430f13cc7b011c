// The registry store: keys, values, name folding and path splitting. The
// entry points, the file reader and the controls all work through these
// helpers while holding the store's mutex.
#include "registry_store.h"

#include <chrono>

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

}  // namespace

RegValue* RegKey::FindValue(std::u16string_view valueName) {
  std::u16string wanted = Upcase(valueName);
  for (RegValue& value : values) {
    if (value.name.size() == wanted.size() && Upcase(value.name) == wanted)
      return &value;
  }
  return nullptr;
}

RegistryState::RegistryState() {
  for (RegKeyPtr& root : roots) {
    root = std::make_shared<RegKey>();
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

std::u16string Upcase(std::u16string_view text) {
  std::u16string result(text);
  for (char16_t& c : result) c = UpcaseChar(c);
  return result;
}

FILETIME CurrentFileTime() {
  using namespace std::chrono;
  uint64_t ticks =
      duration_cast<nanoseconds>(system_clock::now().time_since_epoch())
              .count() /
          100 +
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

LSTATUS SplitKeyPath(std::u16string_view path,
                     std::vector<std::u16string>* levels) {
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
    levels->emplace_back(level);
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

RegKeyPtr FindSubkey(const RegKey& parent, std::u16string_view name) {
  auto found = parent.subkeys.find(Upcase(name));
  return found == parent.subkeys.end() ? nullptr : found->second;
}

RegKeyPtr FindPath(const RegKeyPtr& from,
                   const std::vector<std::u16string>& levels) {
  RegKeyPtr key = from;
  for (const std::u16string& level : levels) {
    key = FindSubkey(*key, level);
    if (!key) return nullptr;
  }
  return key;
}

RegKeyPtr AddSubkey(RegKey& parent, const std::u16string& name) {
  auto key = std::make_shared<RegKey>();
  key->name = name;
  key->depth = parent.depth + 1;
  key->lastWrite = CurrentFileTime();
  parent.subkeys[Upcase(name)] = key;
  parent.lastWrite = key->lastWrite;
  return key;
}

void RemoveSubkey(RegKey& parent, std::u16string_view name) {
  parent.subkeys.erase(Upcase(name));
}

void MarkTreeDeleted(RegKey& key) {
  key.deleted = true;
  for (auto& entry : key.subkeys) MarkTreeDeleted(*entry.second);
}

void SetValue(RegKey& key, std::u16string_view name, DWORD type,
              std::vector<uint8_t> data) {
  RegValue* value = key.FindValue(name);
  if (value == nullptr) {
    key.values.emplace_back();
    value = &key.values.back();
    value->name = std::u16string(name);
  }
  value->type = type;
  value->data = std::move(data);
  key.lastWrite = CurrentFileTime();
}

bool ReadStoredValue(HKEY root, std::u16string_view path,
                     std::u16string_view valueName, bool* keyExists,
                     RegValue* value) {
  *keyExists = false;
  const RootInfo* rootInfo = FindRootByHandle(root);
  if (rootInfo == nullptr) return false;
  std::vector<std::u16string> levels;
  if (SplitKeyPath(path, &levels) != ERROR_SUCCESS) return false;
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  RegKeyPtr key = FindPath(state.roots[static_cast<int>(rootInfo->id)], levels);
  if (!key) return false;
  *keyExists = true;
  RegValue* found = key->FindValue(valueName);
  if (found == nullptr) return false;
  *value = *found;
  return true;
}

}  // namespace internal
}  // namespace qxplatform
