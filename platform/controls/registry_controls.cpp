// Host and test controls of the registry: emptying it, the failure
// countdowns for creating and closing keys, keys that refuse write access,
// and the count of open handles.
#include <qxplatform/controls.h>

#include "registry_store.h"

namespace qxplatform {
namespace internal {
namespace {

void ClearDenyMarks(RegKey& key) {
  key.denyWrite = false;
  for (const RegKeyPtr& subkey : key.subkeys) ClearDenyMarks(*subkey);
}

}  // namespace

void ResetRegistryControls() {
  RegistryState& state = Registry();
  state.failCreate.Arm(0);
  state.failClose.Arm(0);
  std::lock_guard<std::mutex> lock(state.mutex);
  for (RegKeyPtr& root : state.roots) ClearDenyMarks(*root);
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
  RegKeyPtr key = state.roots[static_cast<int>(rootInfo->id)];
  for (std::u16string_view level : levels) {
    RegKeyPtr next = FindSubkey(*key, level);
    if (!next) {
      if (!deny) return;  // nothing to lift on a key that does not exist
      next = AddSubkey(*key, level);
      state.changed = true;
    }
    key = next;
  }
  key->denyWrite = deny;
}

long OpenRegistryHandles() {
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  return static_cast<long>(state.handles.size());
}

void ResetRegistry() {
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (RegKeyPtr& root : state.roots) {
    for (const RegKeyPtr& subkey : root->subkeys) MarkTreeDeleted(*subkey);
    root->subkeys.clear();
    root->values.clear();
    root->denyWrite = false;
    root->lastWrite = CurrentFileTime();
  }
  state.changed = false;
}

bool RegistryChanged() {
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.changed;
}

}  // namespace qxplatform
