// Applies .reg entries to four trees of keys, as regedit imports them: the
// key of each section is made with every missing level, "[-key]" removes a
// key with everything below it, values are set and removed in the latest
// section's key.
#pragma once
#include <cstddef>
#include <vector>

#include "registry_text_reader.h"

namespace qxplatform {
namespace internal {

class RegTreeBuilder final : public RegTextHandler {
 public:
  // keyLimit: how many keys the entries may make; one more is refused.
  RegTreeBuilder(const RegKeyPtr (&roots)[kRootCount], size_t keyLimit)
      : m_roots(roots), m_keyLimit(keyLimit) {}

  bool OpenKey(RootId root, const KeyLevels& levels,
               std::string* what) override;
  bool DeleteKey(RootId root, const KeyLevels& levels,
                 std::string* what) override;
  bool SetValue(RegValue& value, std::string* what) override;
  bool DeleteValue(std::u16string_view name, std::string* what) override;

  size_t keysMade() const { return m_keysMade; }
  bool changed() const { return m_changed; }

 private:
  const RegKeyPtr (&m_roots)[kRootCount];
  size_t m_keyLimit;
  size_t m_keysMade = 0;
  bool m_changed = false;
  // The keys along the latest section's path, root first: the next section
  // usually shares most of it (files list keys in order), and only the
  // levels past the shared part are looked up.
  RootId m_pathRoot = RootId::kClassesRoot;
  std::vector<RegKey*> m_path;
};

}  // namespace internal
}  // namespace qxplatform
