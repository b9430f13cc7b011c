// Applying .reg entries to the database.
#include "registry_tree_builder.h"

#include <string>

namespace qxplatform {
namespace internal {

bool RegTreeBuilder::Failed(LSTATUS status, std::string* what) {
  m_path.clear();
  m_names.clear();
  *what = "the registry database failed (error " + std::to_string(status) +
          "): " + sqlite3_errmsg(m_db.get());
  return false;
}

bool RegTreeBuilder::OpenKey(RootId root, const KeyLevels& levels,
                             std::string* what) {
  size_t shared = 0;
  if (!m_path.empty() && m_pathRoot == root) {
    size_t limit = std::min(levels.size(), m_path.size() - 1);
    while (shared < limit && NamesEqual(levels[shared], m_names[shared + 1]))
      ++shared;
  }
  m_path.resize(shared + 1);
  m_names.resize(shared + 1);
  m_path[0] = RootKey(root);
  m_pathRoot = root;
  for (size_t i = shared; i < levels.size(); ++i) {
    KeyInfo next;
    LSTATUS status = FindSubkey(m_db, m_path.back(), levels[i], &next);
    if (status == ERROR_FILE_NOT_FOUND) {
      status = AddSubkey(m_db, m_path.back(), levels[i], /*isVolatile=*/false,
                         &next);
      if (status == ERROR_SUCCESS) {
        ++m_keysMade;
        m_changed = true;
      }
    }
    if (status != ERROR_SUCCESS) return Failed(status, what);
    m_path.push_back(next);
    m_names.emplace_back(levels[i]);
  }
  return true;
}

bool RegTreeBuilder::DeleteKey(RootId root, const KeyLevels& levels,
                               std::string* what) {
  // Values after "[-key]" have no key to go to, and the keys on the path
  // may be the ones going.
  m_path.clear();
  m_names.clear();
  KeyInfo parent = RootKey(root);
  for (size_t i = 0; i + 1 < levels.size(); ++i) {
    KeyInfo next;
    LSTATUS status = FindSubkey(m_db, parent, levels[i], &next);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return Failed(status, what);
    parent = next;
  }
  KeyInfo key;
  LSTATUS status = FindSubkey(m_db, parent, levels.back(), &key);
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status == ERROR_SUCCESS) status = DeleteKeyTree(m_db, key.id);
  if (status == ERROR_SUCCESS) status = TouchKey(m_db, parent.id);
  if (status != ERROR_SUCCESS) return Failed(status, what);
  m_changed = true;
  return true;
}

bool RegTreeBuilder::SetValue(RegValue& value, std::string* what) {
  if (m_path.empty()) return true;
  LSTATUS status = internal::SetValue(m_db, m_path.back().id, value.name,
                                      value.type, value.data.data(),
                                      value.data.size());
  if (status != ERROR_SUCCESS) return Failed(status, what);
  m_changed = true;
  return true;
}

bool RegTreeBuilder::DeleteValue(std::u16string_view name, std::string* what) {
  if (m_path.empty()) return true;
  LSTATUS status = internal::DeleteValue(m_db, m_path.back().id, name);
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status != ERROR_SUCCESS) return Failed(status, what);
  m_changed = true;
  return true;
}

}  // namespace internal
}  // namespace qxplatform
