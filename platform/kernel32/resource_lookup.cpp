// Resource lookup by type and name. String names are compared in UTF-16,
// upper-cased unit by unit, as the system compares resource names.
#include "resource_lookup.h"

#include <string>

#include "platform_internal.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr DWORD kLargestId = 0xFFFF;

// A caller's type or name, ready to be compared.
struct Key {
  bool isString = false;
  WORD id = 0;
  std::u16string upper;
};

// "#123" names the integer id 123; a "#" without a decimal id that fits in
// a WORD is an ordinary string.
bool ParseNumberedName(LPCSTR text, WORD* id) {
  if (text[0] != '#' || text[1] == '\0') return false;
  DWORD value = 0;
  for (LPCSTR digit = text + 1; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return false;
    value = value * 10 + static_cast<DWORD>(*digit - '0');
    if (value > kLargestId) return false;
  }
  *id = static_cast<WORD>(value);
  return true;
}

Key MakeKey(LPCSTR text) {
  Key key;
  if (IS_INTRESOURCE(text)) {
    key.id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(text));
    return key;
  }
  if (ParseNumberedName(text, &key.id)) return key;
  key.isString = true;
  key.upper = AnsiToWide(text);
  for (char16_t& unit : key.upper) unit = SimpleUpper(unit);
  return key;
}

bool Matches(const ResourceSet& set, const ResourceName& name, const Key& key) {
  if (name.isString != key.isString) return false;
  if (!name.isString) return name.id == key.id;
  if (name.length != key.upper.size()) return false;
  for (size_t index = 0; index < name.length; ++index) {
    if (SimpleUpper(NameUnit(set, name, index)) != key.upper[index])
      return false;
  }
  return true;
}

}  // namespace

const ResourceEntry* FindResourceEntry(const ResourceSet& set, LPCSTR type,
                                       LPCSTR name, DWORD* error) {
  const Key typeKey = MakeKey(type);
  const Key nameKey = MakeKey(name);
  bool typeFound = false;
  for (const ResourceEntry& entry : set.entries) {
    if (!Matches(set, entry.type, typeKey)) continue;
    typeFound = true;
    if (Matches(set, entry.name, nameKey)) return &entry;
  }
  *error =
      typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND;
  return nullptr;
}

}  // namespace internal
}  // namespace qxplatform
