// The table of open key handles.
#include "registry_handles.h"

namespace qxplatform {
namespace internal {

HKEY HandleTable::Add(KeyId key, REGSAM granted, RootId tree,
                      const ViewKey* view) {
  uintptr_t value = m_nextHandle;
  m_nextHandle += 4;
  KeyHandle& handle = m_handles[value];
  handle = KeyHandle();
  handle.key = key;
  handle.granted = granted;
  handle.epoch = m_epoch;
  handle.tree = tree;
  if (view != nullptr) {
    handle.isView = true;
    handle.view = *view;
  }
  return reinterpret_cast<HKEY>(value);
}

KeyHandle* HandleTable::Find(HKEY handle) {
  auto found = m_handles.find(reinterpret_cast<uintptr_t>(handle));
  return found == m_handles.end() ? nullptr : &found->second;
}

bool HandleTable::Erase(HKEY handle) {
  return m_handles.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

void HandleTable::SetOverride(RootId id, const KeyHandle* target) {
  KeyHandle& entry = m_overrides[static_cast<int>(id)];
  entry = KeyHandle();
  m_overridden[static_cast<int>(id)] = target != nullptr;
  if (target == nullptr) return;
  entry = *target;
  entry.epoch = m_epoch;
  entry.subkeys = EnumCursor();
  entry.values = EnumCursor();
}

void HandleTable::ForgetDatabase() {
  ++m_epoch;
  for (KeyHandle& root : m_roots) root = KeyHandle();
  // An override names a key of the database replaced.
  for (int i = 0; i < kRootCount; ++i) {
    m_overrides[i] = KeyHandle();
    m_overridden[i] = false;
  }
}

}  // namespace internal
}  // namespace qxplatform
