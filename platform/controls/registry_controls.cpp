// Host and test controls of the registry: emptying it, the failure
// countdowns for creating and closing keys, keys that refuse write access,
// and the count of open handles.
#include <qxplatform/controls.h>

#include "registry_store.h"

namespace qxplatform {
namespace internal {

void ResetRegistryControls() {
  RegistryState& state = Registry();
  state.failCreate.Arm(0);
  state.failClose.Arm(0);
  std::lock_guard<std::mutex> lock(state.mutex);
  state.denied.clear();
}

}  // namespace internal

using namespace internal;

void FailRegCreateAt(long n) { Registry().failCreate.Arm(n); }

void FailRegCloseAt(long n) { Registry().failClose.Arm(n); }

void DenyWriteAccess(HKEY root, const char* path, bool deny) {
  const RootInfo* rootInfo = FindRootByHandle(root);
  if (rootInfo == nullptr) return;
  std::u16string wide = AnsiToWide(path == nullptr ? "" : path);
  KeyLevels levels;
  if (SplitKeyPath(wide, &levels) != ERROR_SUCCESS) return;
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  Transaction transaction(state.db);
  if (transaction.Begin(Transaction::Kind::kWrite) != ERROR_SUCCESS) return;
  KeyInfo key = RootKey(rootInfo->id);
  bool made = false;
  for (std::u16string_view level : levels) {
    KeyInfo next;
    LSTATUS status = FindSubkey(state.db, key, level, &next);
    if (status == ERROR_FILE_NOT_FOUND) {
      if (!deny) return;  // nothing to lift on a key that does not exist
      status = AddSubkey(state.db, key, level, /*isVolatile=*/false, &next);
      made = true;
    }
    if (status != ERROR_SUCCESS) return;
    key = next;
  }
  if (made) {
    ++state.writes;
    if (transaction.Commit() != ERROR_SUCCESS) return;
    state.changed = true;
  }
  if (deny) {
    state.denied.insert(key.id);
  } else {
    state.denied.erase(key.id);
  }
}

long OpenRegistryHandles() {
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  return static_cast<long>(state.handles.size());
}

void ResetRegistry() {
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  Transaction transaction(state.db);
  if (transaction.Begin(Transaction::Kind::kWrite) == ERROR_SUCCESS) {
    const std::string now =
        std::to_string(FileTimeTicks(CurrentFileTime()));
    std::string sql = "DELETE FROM keys WHERE parent IS NOT NULL;"
                      "DELETE FROM vals;"
                      "UPDATE keys SET last_write = " + now + ";";
    ++state.writes;
    if (sqlite3_exec(state.db.get(), sql.c_str(), nullptr, nullptr,
                     nullptr) == SQLITE_OK)
      transaction.Commit();
  }
  state.denied.clear();
  state.changed = false;
}

bool RegistryChanged() {
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.changed;
}

}  // namespace qxplatform
