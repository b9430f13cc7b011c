// Applying .reg entries to trees of keys.
#include "registry_tree_builder.h"

#include <string>

namespace qxplatform {
namespace internal {

bool RegTreeBuilder::OpenKey(RootId root, const KeyLevels& levels,
                             std::string* what) {
  size_t shared = 0;
  if (!m_path.empty() && m_pathRoot == root) {
    size_t limit = std::min(levels.size(), m_path.size() - 1);
    while (shared < limit &&
           NamesEqual(levels[shared], m_path[shared + 1]->Name()))
      ++shared;
  }
  m_path.resize(shared + 1);
  m_path[0] = m_roots[static_cast<int>(root)].get();
  m_pathRoot = root;
  for (size_t i = shared; i < levels.size(); ++i) {
    if (m_keysMade == m_keyLimit) {
      // Only a key that is not there yet would be one too many.
      if (!FindSubkey(*m_path.back(), levels[i])) {
        m_path.clear();
        *what = "more than " + std::to_string(m_keyLimit) +
                " keys; a registry may hold no more";
        return false;
      }
    }
    bool added = false;
    RegKeyPtr next = FindOrAddSubkey(*m_path.back(), levels[i], &added);
    if (added) {
      ++m_keysMade;
      m_changed = true;
    }
    m_path.push_back(next.get());
  }
  return true;
}

bool RegTreeBuilder::DeleteKey(RootId root, const KeyLevels& levels,
                               std::string*) {
  // Values after "[-key]" have no key to go to, and the keys on the path
  // may be the ones going.
  m_path.clear();
  RegKey* parent = m_roots[static_cast<int>(root)].get();
  for (size_t i = 0; i + 1 < levels.size(); ++i) {
    RegKeyPtr next = FindSubkey(*parent, levels[i]);
    if (!next) return true;
    parent = next.get();
  }
  RegKeyPtr key = FindSubkey(*parent, levels.back());
  if (!key) return true;
  MarkTreeDeleted(*key);
  RemoveSubkey(*parent, key->Name());
  parent->lastWrite = CurrentFileTime();
  m_changed = true;
  return true;
}

bool RegTreeBuilder::SetValue(RegValue& value, std::string*) {
  if (m_path.empty()) return true;
  internal::SetValue(*m_path.back(), value.name, value.type, value.data);
  m_changed = true;
  return true;
}

bool RegTreeBuilder::DeleteValue(std::u16string_view name, std::string*) {
  if (m_path.empty()) return true;
  RegKey& key = *m_path.back();
  StoredValue* value = key.FindValue(name);
  if (value == nullptr) return true;
  key.values.erase(value);
  key.lastWrite = CurrentFileTime();
  m_changed = true;
  return true;
}

}  // namespace internal
}  // namespace qxplatform
