// KeyHolder and OpenKeyInto: replacing a held registry key with its close
// status reported.
#include "registrar/key_holder.h"

LSTATUS KeyHolder::Replace(HKEY key) {
  const LSTATUS closed = Close();
  m_key.reset(key);
  return closed;
}

LSTATUS KeyHolder::Close() {
  HKEY key = m_key.release();
  return key == nullptr ? ERROR_SUCCESS : RegCloseKey(key);
}

LSTATUS OpenKeyInto(KeyHolder& holder, HKEY parent, const char* name,
                    REGSAM access) {
  HKEY opened = nullptr;
  const LSTATUS status =
      RegOpenKeyExA(parent, name, /*ulOptions=*/0, access, &opened);
  if (status != ERROR_SUCCESS) return status;
  return holder.Replace(opened);
}
