// Applies .reg entries to the registry's database, as regedit imports them:
// the key of each section is made with every missing level, "[-key]"
// removes a key with everything below it, values are set and removed in the
// latest section's key. Runs inside the import's one write door, whose key
// writer refuses what RegCreateKeyExA would (a key below a volatile one, a
// key that refuses write access, a path too deep), so that the import
// fails whole with a message saying why.
#pragma once
#include <string>
#include <vector>

#include "registry_store.h"
#include "registry_text_reader.h"

namespace qxplatform {
namespace internal {

class RegTreeBuilder final : public RegTextHandler {
 public:
  explicit RegTreeBuilder(RegistryWriter& door)
      : m_db(door.db()),
        m_keys(door.keys()),
        m_standardUser(door.StandardUser()) {}

  bool OpenKey(RootId root, const KeyLevels& levels,
               std::string* what) override;
  bool DeleteKey(RootId root, const KeyLevels& levels,
                 std::string* what) override;
  bool SetValue(RegValue& value, std::string* what) override;
  bool DeleteValue(std::u16string_view name, std::string* what) override;

  bool changed() const { return m_changed; }

 private:
  bool Failed(LSTATUS status, std::string* what);
  // A section of HKEY_CLASSES_ROOT names the key the classes view sends
  // writes to (registry_view.h): *root becomes that tree and *stored the
  // path in it. A standard user's sections of the machine's tree are
  // refused.
  bool Translate(RootId* root, const KeyLevels& levels, KeyLevels* stored,
                 std::string* what);

  RegistryDb& m_db;
  KeyWriter& m_keys;
  const bool m_standardUser;
  bool m_changed = false;
  // The keys along the latest section's path, root first, with their
  // names: the next section usually shares most of it (files list keys in
  // order), and only the levels past the shared part are looked up.
  RootId m_pathRoot = RootId::kClassesRoot;
  std::vector<KeyInfo> m_path;
  std::vector<std::u16string> m_names;
  // Which keys along the path this import made: below them only what this
  // import made can exist, so a subkey is inserted without a lookup, and
  // looked up only when the insert finds the name taken.
  std::vector<bool> m_made;
  // Files list many keys under one parent: it is touched once for them.
  KeyId m_lastTouched = 0;
  // The section's key when this import made it, and how many values it was
  // given: its values go in without a lookup.
  KeyId m_freshKey = 0;
  int64_t m_freshValues = 0;
};

}  // namespace internal
}  // namespace qxplatform
