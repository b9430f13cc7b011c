// The cache on disk. Folders are private to the user (0700). Moves are
// renames within the cache folder, so each is atomic: the final folder
// either holds a complete, checked install or what it held before.
#include "tools/qxhost/install/install_cache.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "tools/qxhost/system/user_folders.h"

namespace qxhost {
namespace {

constexpr char kFallbackCacheHome[] = ".cache";
constexpr char kStagingTemplate[] = "/.staging-XXXXXX";

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

}  // namespace

std::string CacheFolder(const std::string& explicitPath) {
  if (!explicitPath.empty()) return explicitPath;
  return HostUserFolder("XDG_CACHE_HOME", kFallbackCacheHome);
}

StagingFolder::~StagingFolder() {
  if (!m_path.empty()) RemoveTree(m_path);
  if (m_committed) return;
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
  std::string pattern = m_cache + kStagingTemplate;
  if (mkdtemp(&pattern[0]) == nullptr) {
    *error =
        "cannot create a staging folder in " + m_cache + ": " + strerror(errno);
    return false;
  }
  m_path = pattern;
  if (mkdir(files().c_str(), kHostFolderMode) != 0) {
    *error = "cannot create " + files() + ": " + strerror(errno);
    return false;
  }
  return true;
}

bool StagingFolder::Commit(const std::string& classFolder,
                           const std::string& versionFolder,
                           std::string* installed, std::string* error) {
  std::string classPath = m_cache + "/" + classFolder;
  if (mkdir(classPath.c_str(), kHostFolderMode) == 0) {
    m_classFolderCreated = true;
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
