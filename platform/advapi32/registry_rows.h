// Keys and values as rows of the registry's database, and the names they go
// by. The operations run inside a transaction one of the store's doors
// (registry_store.h) holds; they never insert or delete a key's row, which
// only the key writer (registry_key_writer.h) does.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform_internal.h"
#include "registry_db.h"
#include "registry_time.h"

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

// A value as a query of the database hands it out: views into the row,
// valid until the statement moves on.
class StoredValue {
 public:
  StoredValue(std::u16string_view name, DWORD type, const uint8_t* data,
              size_t size)
      : m_name(name), m_type(type), m_data(data), m_size(size) {}

  std::u16string_view Name() const { return m_name; }
  DWORD Type() const { return m_type; }
  const uint8_t* Data() const { return m_data; }
  size_t Size() const { return m_size; }

 private:
  std::u16string_view m_name;
  DWORD m_type;
  const uint8_t* m_data;
  size_t m_size;
};

// Case folding of names as the registry compares them.
char16_t UpcaseChar(char16_t c);
// The order of the upper-cased names, without making them: negative, zero or
// positive.
int CompareNames(std::u16string_view a, std::u16string_view b);
bool NamesEqual(std::u16string_view a, std::u16string_view b);
// The folded form the database keeps beside a name: its upper-cased units
// encoded by EncodeUnits, whose bytewise order is the units' order and so
// CompareNames's.
std::string FoldedName(std::u16string_view name);

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

struct RootInfo {
  RootId id;
  HKEY handle;
  const char* longName;
  const char* shortName;
};
extern const RootInfo kRoots[kRootCount];

// A key as its row says: the id handles name it by, never reused.
using KeyId = int64_t;
struct KeyInfo {
  KeyId id = 0;
  uint16_t depth = 0;  // levels below the root, at most kMaxKeyDepth
  bool isVolatile = false;
  FILETIME lastWrite{};
};

// The root a predefined handle value names, or null for any other value.
const RootInfo* FindRootByHandle(HKEY key);
// "HKEY_LOCAL_MACHINE" or "HKLM" (any case), or null.
const RootInfo* FindRootByName(std::u16string_view name);
// The row of a root.
KeyInfo RootKey(RootId id);

// Splits a subkey path into its levels. A trailing backslash is tolerated; a
// leading one or an empty level is a syntax error (kErrorBadPathname); a
// level over 255 units or more than kMaxKeyDepth levels is
// ERROR_INVALID_PARAMETER.
LSTATUS SplitKeyPath(std::u16string_view path, KeyLevels* levels);

// Binding a name, and a name's folded form, to a statement's parameter.
int BindName(sqlite3_stmt* statement, int index, std::u16string_view name);
int BindFolded(sqlite3_stmt* statement, int index, const std::string& folded);

// The operations below run inside a transaction of the store's database,
// with the store's mutex held. They answer ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND for a key or value that is not there, or the status
// of a failed database step.

// The key with this id; ERROR_FILE_NOT_FOUND once it is deleted.
LSTATUS LoadKey(RegistryDb& db, KeyId id, KeyInfo* key);
// A direct subkey by name; *storedName, when asked for, gets the name as
// the key keeps it.
LSTATUS FindSubkey(RegistryDb& db, const KeyInfo& parent,
                   std::u16string_view name, KeyInfo* found,
                   std::u16string* storedName = nullptr);
// Walks the levels from a key as far as they exist: *deepest gets the last
// key found (from itself when the first level is missing), *found how many
// levels were.
LSTATUS FindExisting(RegistryDb& db, const KeyInfo& from,
                     const KeyLevels& levels, KeyInfo* deepest,
                     size_t* found);
// Walks the levels from a key; ERROR_FILE_NOT_FOUND when one is missing.
LSTATUS FindPath(RegistryDb& db, const KeyInfo& from, const KeyLevels& levels,
                 KeyInfo* found);
// Sets a key's last write time to now.
LSTATUS TouchKey(RegistryDb& db, KeyId id);
// Whether a key has any subkey.
LSTATUS HasSubkeys(RegistryDb& db, KeyId id, bool* any);
// Stores a value, replacing one of the same name in its place, and touches
// the key.
LSTATUS SetValue(RegistryDb& db, KeyId key, std::u16string_view name,
                 DWORD type, const uint8_t* data, size_t size);
LSTATUS DeleteValue(RegistryDb& db, KeyId key, std::u16string_view name);
// Adds a value to a key made in the same transaction, as its seq'th, without
// looking for one of the same name first or touching the key;
// ERROR_ALREADY_EXISTS when the name is taken after all.
LSTATUS InsertNewValue(RegistryDb& db, KeyId key, int64_t seq,
                       std::u16string_view name, DWORD type,
                       const uint8_t* data, size_t size);
// A value from a row whose columns from `first` on are its name, type and
// data.
void ColumnValue(sqlite3_stmt* statement, int first, RegValue* value);
// Reads a value into *value.
LSTATUS ReadValue(RegistryDb& db, KeyId key, std::u16string_view name,
                  RegValue* value);

}  // namespace internal
}  // namespace qxplatform
