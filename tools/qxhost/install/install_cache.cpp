// The cache on disk. Folders are private to the user (0700). Moves are
// renames within the cache folder, so each is atomic: the final folder
// either holds a complete, checked install or what it held before.
#include "tools/qxhost/install/install_cache.h"

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "tools/qxhost/system/file_lock.h"
#include "tools/qxhost/system/user_folders.h"

namespace qxhost {
namespace {

constexpr char kFallbackCacheHome[] = ".cache";
constexpr char kStagingPrefix[] = ".staging-";
constexpr char kOwnerLock[] = "/owner.lock";
// A class folder removed and made again while this host waited for its
// lock is locked again; this bounds the retries.
constexpr int kClassLockTries = 100;

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

// The owner's pid from ".staging-<pid>-XXXXXX"; 0 for any other name.
pid_t StagingOwner(const char* name) {
  const size_t prefix = sizeof kStagingPrefix - 1;
  if (strncmp(name, kStagingPrefix, prefix) != 0) return 0;
  char* end = nullptr;
  errno = 0;
  long pid = strtol(name + prefix, &end, 10);
  if (errno != 0 || end == name + prefix || *end != '-' || pid <= 0 ||
      static_cast<pid_t>(pid) != pid)
    return 0;
  return static_cast<pid_t>(pid);
}

// A staging folder is abandoned when no one holds its owner lock and its
// owner's process is gone. Both are asked: the lock alone cannot tell a
// dead owner from one that has just made the folder and not yet locked it.
void RemoveAbandonedStaging(const std::string& cache) {
  DIR* folder = opendir(cache.c_str());
  if (folder == nullptr) return;
  std::vector<std::string> abandoned;
  while (struct dirent* entry = readdir(folder)) {
    pid_t owner = StagingOwner(entry->d_name);
    if (owner == 0 || owner == getpid()) continue;
    std::string path = cache + "/" + entry->d_name;
    UniqueFd lock;
    std::string ignored;
    if (LockFile(path + kOwnerLock, /*create=*/false, LockWait::kTry, &lock,
                 &ignored) == LockResult::kBusy)
      continue;
    if (kill(owner, 0) != 0 && errno == ESRCH) abandoned.push_back(path);
  }
  closedir(folder);
  for (const std::string& path : abandoned) RemoveTree(path);
}

// The folder at path is the one fd has open: not removed, nor replaced.
bool SameFolder(int fd, const std::string& path) {
  struct stat opened;
  struct stat named;
  return fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

std::string CacheFolder(const std::string& explicitPath) {
  if (!explicitPath.empty()) return explicitPath;
  return HostUserFolder("XDG_CACHE_HOME", kFallbackCacheHome);
}

StagingFolder::~StagingFolder() {
  if (!m_path.empty()) RemoveTree(m_path);
  if (m_committed) return;
  // While the class is still locked: a host waiting for it then finds the
  // folder gone and locks the one made after.
  if (m_classFolderCreated) rmdir(m_classPath.c_str());
  m_classLock.reset();
  for (auto folder = m_createdFolders.rbegin();
       folder != m_createdFolders.rend(); ++folder)
    rmdir(folder->c_str());
}

bool StagingFolder::Open(const std::string& cacheFolder, std::string* error) {
  if (cacheFolder.empty()) {
    *error = "no home folder to keep the cache in; use --cache";
    return false;
  }
  // Remembering what it made, so that a refusal can unmake it.
  if (!MakeFolders(cacheFolder, "the cache folder ", &m_createdFolders, error))
    return false;
  char* real = realpath(cacheFolder.c_str(), nullptr);
  if (real == nullptr) {
    *error =
        "cannot find the cache folder " + cacheFolder + ": " + strerror(errno);
    return false;
  }
  m_cache = real;
  free(real);
  RemoveAbandonedStaging(m_cache);
  std::string pattern = m_cache + "/" + kStagingPrefix +
                        std::to_string(getpid()) + "-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    *error =
        "cannot create a staging folder in " + m_cache + ": " + strerror(errno);
    return false;
  }
  m_path = pattern;
  if (LockFile(m_path + kOwnerLock, /*create=*/true, LockWait::kTry,
               &m_ownerLock, error) != LockResult::kLocked) {
    if (error->empty()) *error = "cannot lock " + m_path + kOwnerLock;
    return false;
  }
  if (mkdir(files().c_str(), kHostFolderMode) != 0) {
    *error = "cannot create " + files() + ": " + strerror(errno);
    return false;
  }
  return true;
}

bool StagingFolder::LockClass(const std::string& classFolder,
                              std::string* error) {
  m_classPath = m_cache + "/" + classFolder;
  for (int attempt = 0; attempt < kClassLockTries; ++attempt) {
    bool created = mkdir(m_classPath.c_str(), kHostFolderMode) == 0;
    if (!created && errno != EEXIST) {
      *error = "cannot create " + m_classPath + ": " + strerror(errno);
      return false;
    }
    UniqueFd lock;
    LockResult locked = LockFile(m_classPath, /*create=*/false,
                                 LockWait::kWait, &lock, error);
    if (locked == LockResult::kLocked && SameFolder(lock.get(), m_classPath)) {
      m_classLock = std::move(lock);
      m_classFolderCreated = created;
      return true;
    }
    // Removed by the install that held it (which refused): try the new one.
    if (locked == LockResult::kFailed) return false;
    error->clear();
  }
  *error = "cannot lock " + m_classPath + ": it keeps being removed";
  return false;
}

bool StagingFolder::Commit(const std::string& classFolder,
                           const std::string& versionFolder,
                           std::string* installed, std::string* error) {
  std::string classPath = m_cache + "/" + classFolder;
  if (mkdir(classPath.c_str(), kHostFolderMode) == 0) {
    m_classFolderCreated = true;
    m_classPath = classPath;
  } else if (errno != EEXIST) {
    *error = "cannot create " + classPath + ": " + strerror(errno);
    return false;
  }
  std::string target = classPath + "/" + versionFolder;
  std::string saved = m_path + "/replaced";
  bool replacing = rename(target.c_str(), saved.c_str()) == 0;
  if (!replacing && errno != ENOENT) {
    *error = "cannot move the earlier " + target + " aside: " + strerror(errno);
    if (m_classFolderCreated) rmdir(classPath.c_str());
    return false;
  }
  if (rename(files().c_str(), target.c_str()) != 0) {
    *error = "cannot move the files into " + target + ": " + strerror(errno);
    if (replacing) rename(saved.c_str(), target.c_str());
    if (m_classFolderCreated) rmdir(classPath.c_str());
    return false;
  }
  m_installed = target;
  m_replacedSaved = replacing ? saved : std::string();
  m_committed = true;
  *installed = target;
  return true;
}

void StagingFolder::Withdraw() {
  if (!m_committed) return;
  rename(m_installed.c_str(), files().c_str());
  if (!m_replacedSaved.empty())
    rename(m_replacedSaved.c_str(), m_installed.c_str());
  if (m_classFolderCreated)
    rmdir(m_installed.substr(0, m_installed.rfind('/')).c_str());
  m_committed = false;
}

}  // namespace qxhost
