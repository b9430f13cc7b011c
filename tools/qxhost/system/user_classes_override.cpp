// The mapping is the process's, as the system's is: the server itself is
// not told and needs no per-user mode of its own.
#include "tools/qxhost/system/user_classes_override.h"

namespace qxhost {

UserClassesOverride::~UserClassesOverride() {
  if (m_overridden) (void)RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  if (m_classes != nullptr) (void)RegCloseKey(m_classes);
}

LSTATUS UserClassesOverride::Apply(std::string* where) {
  LSTATUS status =
      RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &m_classes, nullptr);
  if (status != ERROR_SUCCESS) {
    m_classes = nullptr;
    *where = "cannot open HKEY_CURRENT_USER\\Software\\Classes";
    return status;
  }
  status = RegOverridePredefKey(HKEY_CLASSES_ROOT, m_classes);
  if (status != ERROR_SUCCESS) {
    *where = "cannot map HKEY_CLASSES_ROOT onto the user's classes";
    return status;
  }
  m_overridden = true;
  return ERROR_SUCCESS;
}

bool MayWriteMachineClasses(LSTATUS* status, std::string* where) {
  // Asking for write access is the check itself: the system answers it
  // from the caller's token, as it would answer the registration's writes.
  HKEY machineClasses = nullptr;
  *status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes", 0,
                          KEY_WRITE, &machineClasses);
  if (*status == ERROR_SUCCESS) {
    (void)RegCloseKey(machineClasses);
    return true;
  }
  if (*status == ERROR_ACCESS_DENIED) {
    *status = ERROR_SUCCESS;
    return false;
  }
  *where = "cannot open HKEY_LOCAL_MACHINE\\Software\\Classes";
  return false;
}

}  // namespace qxhost
