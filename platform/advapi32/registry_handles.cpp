// The table of open key handles.
#include "registry_handles.h"

namespace qxplatform {
namespace internal {

HKEY HandleTable::Add(KeyId key, REGSAM granted) {
  uintptr_t value = m_nextHandle;
  m_nextHandle += 4;
  KeyHandle& handle = m_handles[value];
  handle = KeyHandle();
  handle.key = key;
  handle.granted = granted;
  handle.epoch = m_epoch;
  return reinterpret_cast<HKEY>(value);
}

KeyHandle* HandleTable::Find(HKEY handle) {
  auto found = m_handles.find(reinterpret_cast<uintptr_t>(handle));
  return found == m_handles.end() ? nullptr : &found->second;
}

bool HandleTable::Erase(HKEY handle) {
  return m_handles.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

void HandleTable::ForgetDatabase() {
  ++m_epoch;
  for (KeyHandle& root : m_roots) root = KeyHandle();
}

}  // namespace internal
}  // namespace qxplatform
