// Locating and opening the host's registry database.
#include "tools/qxhost/system/registry_session.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <qxplatform/controls.h>

#include "tools/qxhost/system/user_folders.h"

namespace qxhost {
namespace {

constexpr char kRegistryFileName[] = "registry.db";
constexpr char kFallbackStateHome[] = ".local/state";
// As many links as the kernel follows in one path.
constexpr int kMaxLinkHops = 40;

bool DefaultRegistryPath(std::string* path, std::string* error) {
  std::string directory = HostUserFolder("XDG_STATE_HOME", kFallbackStateHome);
  if (directory.empty()) {
    *error = "no home directory to keep the registry in; use --registry";
    return false;
  }
  if (!MakeFolders(directory, "", nullptr, error)) return false;
  *path = directory + "/" + kRegistryFileName;
  return true;
}

// The file path names once every link is followed, so that users of the
// link and of its target share one database (SQLite keeps its log and its
// shared memory beside the name it opens). A link to a file not made yet names
// a file in a directory that exists; its directory is resolved and the name
// kept.
std::string ResolvedPath(const std::string& absolute) {
  if (char* real = realpath(absolute.c_str(), nullptr)) {
    std::string resolved = real;
    free(real);
    return resolved;
  }
  std::string current = absolute;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    char target[PATH_MAX];
    ssize_t length = readlink(current.c_str(), target, sizeof(target));
    if (length < 0 || length == static_cast<ssize_t>(sizeof(target))) break;
    std::string next(target, static_cast<size_t>(length));
    if (next[0] != '/') next = current.substr(0, current.rfind('/') + 1) + next;
    current = next;
  }
  size_t slash = current.rfind('/');
  if (slash == std::string::npos) return current;
  std::string directory = slash == 0 ? "/" : current.substr(0, slash);
  char* real = realpath(directory.c_str(), nullptr);
  if (real == nullptr) return current;  // loading says what is wrong
  std::string resolved = real;
  free(real);
  if (resolved.back() != '/') resolved += '/';
  return resolved + current.substr(slash + 1);
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char buffer[4096];
  if (getcwd(buffer, sizeof(buffer)) == nullptr) return path;
  return std::string(buffer) + "/" + path;
}

bool OpenRegistrySession(const std::string& explicitPath, bool create,
                         std::string* error) {
  std::string path = explicitPath;
  if (path.empty() && !DefaultRegistryPath(&path, error)) return false;
  const std::string database = ResolvedPath(AbsolutePath(path));
  if (setenv(kRegistryEnvironmentVariable, database.c_str(), 1) != 0) {
    *error = std::string("cannot set ") + kRegistryEnvironmentVariable;
    return false;
  }
  struct stat info {};
  if (!create && lstat(database.c_str(), &info) != 0 && errno == ENOENT)
    return true;
  std::string reason;
  if (!qxplatform::OpenRegistryDatabase(database.c_str(), &reason)) {
    // The platform may name the file itself; the message names it once.
    const std::string named = database + ": ";
    if (reason.compare(0, named.size(), named) == 0)
      reason.erase(0, named.size());
    *error = "cannot open the registry " + database + ": " + reason;
    return false;
  }
  return true;
}

}  // namespace qxhost
