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
  if (key == nullptr) return ERROR_SUCCESS;
  const LSTATUS status = RegCloseKey(key);
  // A close that failed is tried once more, so a passing failure does not
  // leave the handle open; the first failure is what the caller reports.
  if (status != ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

LSTATUS OpenKeyInto(KeyHolder& holder, HKEY parent, const char* name,
                    REGSAM access) {
  HKEY opened = nullptr;
  const LSTATUS status =
      RegOpenKeyExA(parent, name, /*ulOptions=*/0, access, &opened);
  if (status != ERROR_SUCCESS) return status;
  return holder.Replace(opened);
}
