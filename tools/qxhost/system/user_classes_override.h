// HKEY_CLASSES_ROOT mapped onto the current user's classes for as long as
// the holder lives: what a server registers meanwhile (its type library's
// entries too) lands in HKEY_CURRENT_USER\Software\Classes and the
// machine's classes are left alone. regsvr32 --user and a standard user's
// page install both register this way.
#pragma once
#include <windows.h>

#include <string>

namespace qxhost {

class UserClassesOverride {
 public:
  UserClassesOverride() = default;
  UserClassesOverride(const UserClassesOverride&) = delete;
  UserClassesOverride& operator=(const UserClassesOverride&) = delete;
  // Lifts the mapping, if Apply made it, and closes the user's key.
  ~UserClassesOverride();

  // Opens (or makes) the user's classes key and maps HKEY_CLASSES_ROOT
  // onto it; the status of the step that failed, with *where naming it.
  [[nodiscard]] LSTATUS Apply(std::string* where);

 private:
  HKEY m_classes = nullptr;
  bool m_overridden = false;
};

// Whether this process may write the machine's classes: false for a user
// who is no administrator (the open for writing is denied), who then
// installs for itself only. Any other failure to open is returned as
// *status with *where naming it, and the answer is then meaningless.
[[nodiscard]] bool MayWriteMachineClasses(LSTATUS* status, std::string* where);

}  // namespace qxhost
