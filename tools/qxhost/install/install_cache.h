// The per-user folder where code downloaded by pages (here: installed from
// a page's folder) is kept, and the staging folder an install is unpacked
// and checked in. Nothing reaches its final place until every check has
// passed, and a refused install leaves the cache as it found it.
//
// Layout: <cache>/{CLSID}/<a.b.c.d>/<files>, one folder per class and
// version; staging folders are <cache>/.staging-<pid>-XXXXXX while an
// install runs, each with an owner.lock its host holds locked. <cache> is
// --cache DIR, else $XDG_CACHE_HOME/qxkorvex (when absolute), else
// ~/.cache/qxkorvex.
//
// Hosts share the cache: installs of one class take turns, each holding
// its class folder locked from the moment it looks at the class until it
// has registered it; and the staging folder a host left when it was killed
// is removed by the next install, once its lock shows its owner is gone.
#pragma once
#include <string>
#include <vector>

#include "tools/qxhost/system/posix_holders.h"

namespace qxhost {

// The cache folder: explicitPath when given, else the default. "" when there
// is no home folder to put it in.
std::string CacheFolder(const std::string& explicitPath);

// One install's staging folder. Open creates the cache folder (and any
// missing parents) and a fresh staging folder in it; the destructor removes
// the staging folder with everything in it, and the folders Open created
// when nothing was committed, so a refusal leaves no trace.
class StagingFolder {
 public:
  StagingFolder() = default;
  ~StagingFolder();
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  // Also removes the staging folders of hosts that are gone.
  [[nodiscard]] bool Open(const std::string& cacheFolder, std::string* error);
  // Waits for the other installs of the class to end and keeps them out
  // until this one ends (the class folder, created if missing, locked).
  [[nodiscard]] bool LockClass(const std::string& classFolder,
                               std::string* error);
  const std::string& path() const { return m_path; }
  // Where unpacked files go: <staging>/files, created by Open.
  std::string files() const { return m_path + "/files"; }

  // Moves files() to <cache>/<classFolder>/<versionFolder>, replacing what
  // was there (which goes into the staging folder and is removed with it).
  // *installed receives the final folder. False with *error when the move
  // fails; the cache is then as it was.
  [[nodiscard]] bool Commit(const std::string& classFolder,
                            const std::string& versionFolder,
                            std::string* installed, std::string* error);
  // Undoes Commit: the installed folder goes back into the staging folder
  // (to be removed) and what it replaced is put back.
  void Withdraw();

 private:
  std::string m_cache;
  std::string m_path;
  UniqueFd m_ownerLock;  // <staging>/owner.lock, held while the host lives
  UniqueFd m_classLock;  // the class folder, held from LockClass on
  std::string m_classPath;
  std::vector<std::string> m_createdFolders;  // by Open, outermost first
  std::string m_installed;
  std::string m_replacedSaved;  // the replaced folder's place in staging
  bool m_classFolderCreated = false;
  bool m_committed = false;
};

}  // namespace qxhost
