// The home folder is $HOME when it is absolute, else the password entry's.
#include "tools/qxhost/system/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace qxhost {
namespace {

std::string HomeFolder() {
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  struct passwd* entry = getpwuid(getuid());
  if (entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  return std::string();
}

}  // namespace

std::string UserFolder(const char* variable, const char* fallback) {
  const char* folder = getenv(variable);
  if (folder != nullptr && folder[0] == '/') return folder;
  const std::string home = HomeFolder();
  if (home.empty()) return std::string();
  return home + "/" + fallback;
}

}  // namespace qxhost
