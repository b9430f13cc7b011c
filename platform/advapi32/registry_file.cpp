// Persistence of the registry store: loading and saving .reg files, merging
// and exporting .reg text. A file is parsed completely before the store is
// touched, and saved through a temporary file that replaces the old one only
// once it is fully on disk.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

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
    for (auto& entry : root.subkeys) MarkTreeDeleted(*entry.second);
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

// Writes beside the target, flushes to disk and renames over it, so the
// target is either the old file or the complete new one.
bool WriteFileAtomically(const std::string& path, const std::string& bytes,
                         std::string* error) {
  static std::atomic<unsigned> serial{0};
  std::string temporary = path + ".tmp-" + std::to_string(getpid()) + "-" +
                          std::to_string(serial.fetch_add(1));
  int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = SystemError("cannot create", temporary);
    return false;
  }
  bool ok = WriteAll(fd, bytes);
  if (!ok) *error = SystemError("cannot write", temporary);
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
  size_t slash = path.rfind('/');
  std::string directory =
      slash == std::string::npos ? "." : path.substr(0, slash + 1);
  int dirFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
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
    *path += u"\\" + key->name;
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
  for (RegKeyPtr& root : fresh) root = std::make_shared<RegKey>();
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
  int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EACCES || errno == EROFS || errno == EPERM) return true;
    Report(error, "cannot open " + lockPath + ": " + strerror(errno));
    return false;
  }
  int result;
  do {
    result = flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    Report(error, "cannot lock " + lockPath + ": " + strerror(errno));
    close(fd);
    return false;
  }
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
