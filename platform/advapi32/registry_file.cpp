// Persistence of the registry store: loading and saving .reg files, merging
// and exporting .reg text. A file is parsed completely before the store is
// touched, and saved through a temporary file that replaces the old one only
// once it is fully on disk.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <string_view>

#include <qxplatform/controls.h>

#include "registry_text.h"

namespace qxplatform {
namespace internal {
namespace {

void Report(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what;
}

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Replaces the contents of the store's roots with those of fresh ones; open
// handles on the keys that go answer ERROR_KEY_DELETED from then on.
void ReplaceStore(RegistryState& state, const RegKeyPtr (&fresh)[kRootCount]) {
  for (int i = 0; i < kRootCount; ++i) {
    RegKey& root = *state.roots[i];
    for (auto& entry : root.subkeys) MarkTreeDeleted(*entry);
    root.subkeys = std::move(fresh[i]->subkeys);
    root.values = std::move(fresh[i]->values);
    root.denyWrite = false;
    root.lastWrite = CurrentFileTime();
  }
}

bool ReadWholeFile(const char* path, std::string* bytes, bool* missing,
                   std::string* error) {
  *missing = false;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      *missing = true;
      return true;
    }
    *error = SystemError("cannot open", path);
    return false;
  }
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = SystemError("cannot read", path);
      close(fd);
      return false;
    }
    if (got == 0) break;
    bytes->append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return true;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t put = write(fd, bytes.data() + written, bytes.size() - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    written += static_cast<size_t>(put);
  }
  return true;
}

// Temporaries are "<file>.tmp-<suffix>", so that a lock holder can tell the
// ones a killed save of this file left behind from anything else.
constexpr char kTemporaryInfix[] = ".tmp-";
constexpr size_t kTemporaryRandomDigits = 12;
constexpr int kTemporaryAttempts = 100;
// A registry file made from nothing; the umask still applies.
constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kAnyWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kPermissionBits = 07777;

std::string RandomSuffix() {
  static const char kDigits[] = "0123456789abcdef";
  thread_local std::mt19937_64 engine{std::random_device{}()};
  std::string suffix;
  for (size_t i = 0; i < kTemporaryRandomDigits; ++i)
    suffix.push_back(kDigits[engine() % 16]);
  return suffix;
}

bool AllOf(std::string_view text, const char* allowed) {
  return !text.empty() && text.find_first_not_of(allowed) == text.npos;
}

// Ours: twelve hex digits, or "<pid>-<serial>" as older hosts named them.
bool IsTemporarySuffix(std::string_view suffix) {
  if (suffix.size() == kTemporaryRandomDigits &&
      AllOf(suffix, "0123456789abcdef"))
    return true;
  size_t dash = suffix.find('-');
  return dash != suffix.npos && AllOf(suffix.substr(0, dash), "0123456789") &&
         AllOf(suffix.substr(dash + 1), "0123456789");
}

void SplitPath(const std::string& path, std::string* directory,
               std::string* name) {
  size_t slash = path.rfind('/');
  *directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Only safe under the file's lock: no other save of it can be in flight.
void RemoveStaleTemporaries(const std::string& path) {
  std::string directory, name;
  SplitPath(path, &directory, &name);
  const std::string prefix = name + kTemporaryInfix;
  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = readdir(listing)) {
    std::string_view entryName = entry->d_name;
    if (entryName.compare(0, prefix.size(), prefix) != 0 ||
        !IsTemporarySuffix(entryName.substr(prefix.size())))
      continue;
    unlinkat(dirfd(listing), entry->d_name, 0);
  }
  closedir(listing);
}

// The temporary must not widen who may read the registry, nor lose its group,
// before it takes the old file's place.
bool CarryOverOwnership(int fd, const struct stat& old,
                        const std::string& temporary, std::string* error) {
  // Only the superuser may give a file away; otherwise it stays ours.
  if (fchown(fd, old.st_uid, old.st_gid) != 0 &&
      fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0 && errno != EPERM) {
    *error = SystemError("cannot set the owner of", temporary);
    return false;
  }
  if (fchmod(fd, old.st_mode & kPermissionBits) != 0) {
    *error = SystemError("cannot set the mode of", temporary);
    return false;
  }
  return true;
}

// Writes beside the target, flushes to disk and renames over it, so the
// target is either the old file or the complete new one.
bool WriteFileAtomically(const std::string& path, const std::string& bytes,
                         std::string* error) {
  struct stat old {};
  bool replacing = stat(path.c_str(), &old) == 0;
  if (!replacing && errno != ENOENT) {
    *error = SystemError("cannot examine", path);
    return false;
  }
  // The owner made it read-only on purpose; rename would get past that, and
  // the superuser past access(), so the mode bits decide.
  if (replacing && (old.st_mode & kAnyWriteBits) == 0) {
    *error = "registry file " + path + " is read-only";
    return false;
  }
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < kTemporaryAttempts && fd < 0; ++attempt) {
    temporary = path + kTemporaryInfix + RandomSuffix();
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
              replacing ? S_IRUSR | S_IWUSR : kNewFileMode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    *error = SystemError("cannot create", temporary);
    return false;
  }
  bool ok = !replacing || CarryOverOwnership(fd, old, temporary, error);
  if (ok && !WriteAll(fd, bytes)) {
    *error = SystemError("cannot write", temporary);
    ok = false;
  }
  if (ok && fsync(fd) != 0) {
    *error = SystemError("cannot flush", temporary);
    ok = false;
  }
  if (close(fd) != 0 && ok) {
    *error = SystemError("cannot close", temporary);
    ok = false;
  }
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
    *error = SystemError("cannot replace", path);
    ok = false;
  }
  if (!ok) {
    unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable; the file is complete either way.
  std::string directory, name;
  SplitPath(path, &directory, &name);
  int dirFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
}

bool IsAccessError(int error) { return error == EACCES || error == EPERM; }

// Where nobody may create files beside the registry, nobody can replace it
// either, and working without the lock loses nothing.
bool DirectoryWritable(const std::string& path) {
  std::string directory, name;
  SplitPath(path, &directory, &name);
  return access(directory.c_str(), W_OK) == 0;
}

// flock needs only a descriptor, and reading is all any user who may write
// the registry is sure to be allowed, so the lock file is opened read-only
// and made as readable as the registry file itself.
int OpenLockFile(const std::string& path, const std::string& lockPath) {
  int fd = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0 || errno != ENOENT) return fd;
  struct stat registry {};
  bool registryExists = stat(path.c_str(), &registry) == 0;
  fd = open(lockPath.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC,
            registryExists ? registry.st_mode & 0666 : kNewFileMode);
  if (fd < 0) {
    if (errno == EEXIST) return open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    return fd;
  }
  if (registryExists) {
    // Best effort: the lock already works for this process.
    bool shared = fchown(fd, static_cast<uid_t>(-1), registry.st_gid) == 0;
    shared = fchmod(fd, registry.st_mode & 0666) == 0 && shared;
    (void)shared;
  }
  return fd;
}

// The key named by "HKEY_...\path" or "HKCR\path"; *path gets its stored
// name. Called with the store locked.
RegKeyPtr FindKeyByName(RegistryState& state, std::string_view name,
                        std::u16string* path, std::string* what) {
  bool valid = false;
  std::u16string wide = Utf8ToWide(name, &valid);
  if (!valid) {
    *what = "the key name is not valid UTF-8";
    return nullptr;
  }
  size_t split = wide.find(u'\\');
  const RootInfo* root =
      FindRootByName(std::u16string_view(wide).substr(0, split));
  if (root == nullptr) {
    *what = "unknown root key";
    return nullptr;
  }
  std::vector<std::u16string> levels;
  if (split != std::u16string::npos &&
      SplitKeyPath(std::u16string_view(wide).substr(split + 1), &levels) !=
          ERROR_SUCCESS) {
    *what = "malformed key path";
    return nullptr;
  }
  RegKeyPtr key = state.roots[static_cast<int>(root->id)];
  *path = Utf8ToWide(root->longName, nullptr);
  for (const std::u16string& level : levels) {
    key = FindSubkey(*key, level);
    if (!key) {
      *what = "the key does not exist";
      return nullptr;
    }
    *path += u'\\';
    *path += key->Name();
  }
  return key;
}

// The whole store as .reg text: a root's own section only when it holds
// values, then every key below it.
bool FormatStore(RegistryState& state, bool skipVolatile, std::string* text,
                 std::string* error) {
  *text = RegTextHeader();
  for (const RootInfo& info : kRoots) {
    const RegKey& root = *state.roots[static_cast<int>(info.id)];
    if (!AppendKeySections(root, Utf8ToWide(info.longName, nullptr),
                           /*writeSelf=*/!root.values.empty(), skipVolatile,
                           text, error))
      return false;
  }
  return true;
}

}  // namespace
}  // namespace internal

using namespace internal;

bool LoadRegistryFile(const char* path, std::string* error) {
  if (path == nullptr) {
    Report(error, "no file name");
    return false;
  }
  std::string bytes;
  bool missing = false;
  std::string what;
  if (!ReadWholeFile(path, &bytes, &missing, &what)) {
    Report(error, what);
    return false;
  }
  std::vector<RegTextOp> ops;
  if (!missing && !ParseRegText(bytes, &ops, &what)) {
    Report(error, std::string(path) + ": " + what);
    return false;
  }
  RegKeyPtr fresh[kRootCount];
  for (RegKeyPtr& root : fresh) root = RegKeyPtr::Make();
  ApplyRegOps(ops, fresh);
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  ReplaceStore(state, fresh);
  state.changed = false;
  return true;
}

bool SaveRegistryFile(const char* path, std::string* error) {
  if (path == nullptr || *path == '\0') {
    Report(error, "no file name");
    return false;
  }
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::string text;
  std::string what;
  if (!FormatStore(state, /*skipVolatile=*/true, &text, &what) ||
      !WriteFileAtomically(path, text, &what)) {
    Report(error, what);
    return false;
  }
  state.changed = false;
  return true;
}

bool LockRegistryFile(const char* path, std::string* error) {
  if (path == nullptr || *path == '\0') {
    Report(error, "no file name");
    return false;
  }
  // The locks this process holds, by lock file name; held until exit.
  static std::mutex locksMutex;
  static std::vector<std::string> lockedPaths;
  std::lock_guard<std::mutex> guard(locksMutex);
  const std::string lockPath = std::string(path) + ".lock";
  for (const std::string& locked : lockedPaths) {
    if (locked == lockPath) return true;
  }
  int fd = OpenLockFile(path, lockPath);
  if (fd < 0) {
    if (errno == EROFS || (IsAccessError(errno) && !DirectoryWritable(path)))
      return true;
    Report(error, "cannot open " + lockPath + ": " + strerror(errno));
    return false;
  }
  int result;
  do {
    result = flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0 && errno == EBADF) {
    // Where flock is carried out with record locks (NFS) an exclusive lock
    // needs a descriptor open for writing.
    int writable = open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
    if (writable >= 0) {
      close(fd);
      fd = writable;
      do {
        result = flock(fd, LOCK_EX);
      } while (result != 0 && errno == EINTR);
    }
  }
  if (result != 0) {
    Report(error, "cannot lock " + lockPath + ": " + strerror(errno));
    close(fd);
    return false;
  }
  RemoveStaleTemporaries(path);
  lockedPaths.push_back(lockPath);
  return true;
}

bool ImportRegistryText(const std::string& text, std::string* error) {
  std::vector<RegTextOp> ops;
  std::string what;
  if (!ParseRegText(text, &ops, &what)) {
    Report(error, what);
    return false;
  }
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  ApplyRegOps(ops, state.roots);
  if (!ops.empty()) state.changed = true;
  return true;
}

bool ExportRegistryText(const char* key, std::string* out, std::string* error) {
  if (out == nullptr) {
    Report(error, "no output");
    return false;
  }
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::string text;
  std::string what;
  if (key == nullptr || *key == '\0') {
    if (!FormatStore(state, /*skipVolatile=*/false, &text, &what)) {
      Report(error, what);
      return false;
    }
    *out = std::move(text);
    return true;
  }
  std::u16string path;
  RegKeyPtr found = FindKeyByName(state, key, &path, &what);
  if (!found) {
    Report(error, std::string(key) + ": " + what);
    return false;
  }
  text = RegTextHeader();
  if (!AppendKeySections(*found, path, /*writeSelf=*/true,
                         /*skipVolatile=*/false, &text, &what)) {
    Report(error, what);
    return false;
  }
  *out = std::move(text);
  return true;
}

}  // namespace qxplatform
