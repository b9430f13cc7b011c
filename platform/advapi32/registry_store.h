// The registry store shared by the registry entry points, the .reg file
// reader and writer, the registry controls and the provider probe: four trees
// of keys, the table of open key handles and the failure controls, all behind
// one mutex.
#pragma once
#include <windows.h>

#include <cstdint>
#include <map>
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

struct RegKey;
using RegKeyPtr = std::shared_ptr<RegKey>;

struct RegKey {
  std::u16string name;
  // Keyed by the upper-cased name: lookups ignore case and enumeration runs
  // in case-insensitive order, as Windows enumerates subkeys.
  std::map<std::u16string, RegKeyPtr> subkeys;
  // Kept in the order they were first set, the order Windows enumerates.
  std::vector<RegValue> values;
  FILETIME lastWrite{};
  size_t depth = 0;  // levels below the root
  bool denyWrite = false;
  bool isVolatile = false;
  // Set when the key leaves the tree; handles still open on it answer
  // ERROR_KEY_DELETED.
  bool deleted = false;

  RegValue* FindValue(std::u16string_view valueName);
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

// Case folding of names as the registry compares them.
char16_t UpcaseChar(char16_t c);
std::u16string Upcase(std::u16string_view text);

FILETIME CurrentFileTime();

// The root a predefined handle value names, or null for any other value.
const RootInfo* FindRootByHandle(HKEY key);
// "HKEY_LOCAL_MACHINE" or "HKLM" (any case), or null.
const RootInfo* FindRootByName(std::u16string_view name);

// Splits a subkey path into its levels. A trailing backslash is tolerated; a
// leading one or an empty level is a syntax error (kErrorBadPathname); a
// level over 255 units or more than kMaxKeyDepth levels is
// ERROR_INVALID_PARAMETER.
LSTATUS SplitKeyPath(std::u16string_view path,
                     std::vector<std::u16string>* levels);

// Looks up a direct subkey; null when it does not exist.
RegKeyPtr FindSubkey(const RegKey& parent, std::u16string_view name);
// Walks the levels from a key; null when one of them is missing.
RegKeyPtr FindPath(const RegKeyPtr& from,
                   const std::vector<std::u16string>& levels);
// Makes a subkey (which must not exist yet) and touches the parent.
RegKeyPtr AddSubkey(RegKey& parent, const std::u16string& name);
// Takes a direct subkey out of its parent (the key itself is not marked).
void RemoveSubkey(RegKey& parent, std::u16string_view name);
// Marks a key and everything below it as deleted.
void MarkTreeDeleted(RegKey& key);
// Stores a value, replacing one of the same name in its place.
void SetValue(RegKey& key, std::u16string_view name, DWORD type,
              std::vector<uint8_t> data);

// Reads a value straight from the store, bypassing handles and access
// checks. *keyExists tells whether root\path exists; the result whether the
// value does.
bool ReadStoredValue(HKEY root, std::u16string_view path,
                     std::u16string_view valueName, bool* keyExists,
                     RegValue* value);

}  // namespace internal
}  // namespace qxplatform
