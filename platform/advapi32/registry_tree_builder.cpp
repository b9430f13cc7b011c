// Applying .reg entries to the database.
#include "registry_tree_builder.h"

#include "registry_view.h"

#include <string>

namespace qxplatform {
namespace internal {

namespace {

// What the key writer refused, in the words of the import's message; null
// for a failure of the database itself.
const char* Refusal(LSTATUS status) {
  switch (status) {
    case ERROR_CHILD_MUST_BE_VOLATILE:
      return "a key below a volatile key must be volatile too, and an import "
             "makes only non-volatile keys";
    case ERROR_ACCESS_DENIED:
      return "the key refuses write access";
    case ERROR_INVALID_PARAMETER:
      return "the key's name or depth is not one the registry takes";
    default:
      return nullptr;
  }
}

}  // namespace

bool RegTreeBuilder::Failed(LSTATUS status, std::string* what) {
  m_path.clear();
  m_names.clear();
  m_made.clear();
  const char* refusal = Refusal(status);
  *what = refusal != nullptr
              ? std::string(refusal) + " (error " + std::to_string(status) +
                    "); nothing was merged"
              : "the registry database failed (error " +
                    std::to_string(status) + "): " + sqlite3_errmsg(m_db.get());
  return false;
}

bool RegTreeBuilder::Translate(RootId* root, const KeyLevels& levels,
                               KeyLevels* stored, std::string* what) {
  LSTATUS status = ERROR_SUCCESS;
  if (*root == RootId::kClassesRoot)
    status = ViewWriteTarget(m_db, levels, root, stored);
  if (status == ERROR_SUCCESS && m_standardUser &&
      *root == RootId::kLocalMachine)
    status = ERROR_ACCESS_DENIED;
  return status == ERROR_SUCCESS || Failed(status, what);
}

bool RegTreeBuilder::OpenKey(RootId root, const KeyLevels& named,
                             std::string* what) {
  KeyLevels stored;
  const bool isView = root == RootId::kClassesRoot;
  if (!Translate(&root, named, &stored, what)) return false;
  const KeyLevels& levels = isView ? stored : named;
  size_t shared = 0;
  if (!m_path.empty() && m_pathRoot == root) {
    size_t limit = std::min(levels.size(), m_path.size() - 1);
    while (shared < limit && NamesEqual(levels[shared], m_names[shared + 1]))
      ++shared;
  }
  m_path.resize(shared + 1);
  m_names.resize(shared + 1);
  m_made.resize(shared + 1);
  m_path[0] = RootKey(root);
  m_made[0] = false;
  m_pathRoot = root;
  m_freshKey = 0;
  for (size_t i = shared; i < levels.size(); ++i) {
    KeyInfo next;
    LSTATUS status = m_made.back()
                         ? ERROR_FILE_NOT_FOUND
                         : FindSubkey(m_db, m_path.back(), levels[i], &next);
    bool made = status == ERROR_FILE_NOT_FOUND;
    if (made) {
      const KeyId parent = m_path.back().id;
      status = m_keys.AddSubkey(m_path.back(), levels[i],
                                /*isVolatile=*/false, &next,
                                /*touchParent=*/parent != m_lastTouched);
      if (status == ERROR_ALREADY_EXISTS) {
        // Made by an earlier section of this import below a key it made.
        made = false;
        status = FindSubkey(m_db, m_path.back(), levels[i], &next);
      }
      if (made && status == ERROR_SUCCESS) {
        m_lastTouched = parent;
        m_freshKey = i + 1 == levels.size() ? next.id : 0;
        m_freshValues = 0;
        m_changed = true;
      }
    }
    if (status != ERROR_SUCCESS) return Failed(status, what);
    m_path.push_back(next);
    m_names.emplace_back(levels[i]);
    m_made.push_back(made);
  }
  return true;
}

bool RegTreeBuilder::DeleteKey(RootId root, const KeyLevels& named,
                               std::string* what) {
  KeyLevels stored;
  const bool isView = root == RootId::kClassesRoot;
  // A root is never removed, nor the classes key a view's root stands on.
  if (named.empty()) return Failed(ERROR_ACCESS_DENIED, what);
  if (!Translate(&root, named, &stored, what)) return false;
  const KeyLevels& levels = isView ? stored : named;
  // Values after "[-key]" have no key to go to, and the keys on the path
  // may be the ones going.
  m_path.clear();
  m_names.clear();
  m_made.clear();
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
  if (status == ERROR_SUCCESS) status = m_keys.DeleteTree(key.id);
  if (status == ERROR_SUCCESS) status = TouchKey(m_db, parent.id);
  m_lastTouched = 0;
  m_freshKey = 0;
  if (status != ERROR_SUCCESS) return Failed(status, what);
  m_changed = true;
  return true;
}

bool RegTreeBuilder::SetValue(RegValue& value, std::string* what) {
  if (m_path.empty()) return true;
  if (m_path.back().id == m_freshKey) {
    LSTATUS status =
        InsertNewValue(m_db, m_freshKey, m_freshValues + 1, value.name,
                       value.type, value.data.data(), value.data.size());
    if (status == ERROR_SUCCESS) {
      ++m_freshValues;
      m_changed = true;
      return true;
    }
    if (status != ERROR_ALREADY_EXISTS) return Failed(status, what);
    m_freshKey = 0;  // a name set twice: the general way from here on
  }
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
