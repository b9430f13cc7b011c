// The home folder is $HOME when it is absolute, else the password entry's.
#include "tools/qxhost/system/user_folders.h"

#include <errno.h>
#include <pwd.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace qxhost {
namespace {

constexpr char kHostSubfolder[] = "qxkorvex";

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

std::string HostUserFolder(const char* variable, const char* fallback) {
  const std::string base = UserFolder(variable, fallback);
  if (base.empty()) return std::string();
  return base + "/" + kHostSubfolder;
}

bool MakeFolders(const std::string& path, const char* what,
                 std::vector<std::string>* made, std::string* error) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), kHostFolderMode) == 0) {
      if (made != nullptr) made->push_back(prefix);
    } else if (errno != EEXIST) {
      *error = "cannot create " + std::string(what) + prefix + ": " +
               strerror(errno);
      return false;
    }
    if (slash == std::string::npos) return true;
  }
}

}  // namespace qxhost
