// Persistence of the registry store: loading and saving .reg files, merging
// and exporting .reg text. A file is read into fresh trees that replace the
// store's only once the whole file proved good; merged text is checked
// completely before the store is touched; a save goes through a temporary
// file that replaces the old one only once it is fully on disk.
//
// Bounds: a registry file holds at most kMaxRegistryFileBytes of text and
// kMaxRegistryKeys keys. Loading refuses a bigger file, saving refuses to
// write one, and a merge that would make one is refused before it starts, so
// a registry that was saved can always be loaded again.
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
#include <unordered_set>

#include <qxplatform/controls.h>

#include "registry_text.h"
#include "registry_text_reader.h"
#include "registry_tree_builder.h"

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

constexpr size_t kMaxRegistryFileBytes = 64u << 20;
constexpr size_t kMaxRegistryKeys = 1000000;
constexpr char kMaxRegistryFileText[] = "64 MiB";
constexpr size_t kReadChunk = 1u << 16;

// A registry file is a regular file: a directory cannot be one, and a FIFO
// or a device would be waited on or read forever.
bool IsRegularFile(const char* path, const struct stat& info,
                   std::string* problem) {
  if (S_ISREG(info.st_mode)) return true;
  *problem =
      std::string(path) +
      (S_ISDIR(info.st_mode) ? " is a directory" : " is not a regular file");
  return false;
}

// Opens a registry file for reading: a regular file within the size bound.
// O_NONBLOCK keeps the open of a FIFO from waiting for a writer. *fd is -1
// for a file that does not exist.
bool OpenRegistryInput(const char* path, int* fd, std::string* error) {
  *fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (*fd < 0) {
    if (errno == ENOENT) return true;
    *error = SystemError("cannot open", path);
    return false;
  }
  struct stat info {};
  std::string problem;
  if (fstat(*fd, &info) != 0) {
    problem = SystemError("cannot examine", path);
  } else if (IsRegularFile(path, info, &problem) &&
             static_cast<uint64_t>(info.st_size) > kMaxRegistryFileBytes) {
    problem = std::string(path) + " is larger than " + kMaxRegistryFileText;
  }
  if (problem.empty()) return true;
  close(*fd);
  *fd = -1;
  *error = problem;
  return false;
}

// Streams the file through the reader, a piece at a time; a file that grows
// past the bound while it is read is refused all the same.
bool ReadRegistryFile(int fd, const char* path, RegTextReader* reader,
                      std::string* error) {
  std::string chunk(kReadChunk, '\0');
  size_t total = 0;
  for (;;) {
    ssize_t got = read(fd, &chunk[0], chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = SystemError("cannot read", path);
      return false;
    }
    if (got == 0) break;
    total += static_cast<size_t>(got);
    if (total > kMaxRegistryFileBytes) {
      *error = std::string(path) + " is larger than " + kMaxRegistryFileText;
      return false;
    }
    std::string what;
    if (!reader->Feed(std::string_view(chunk.data(), got), &what)) {
      *error = std::string(path) + ": " + what;
      return false;
    }
  }
  std::string what;
  if (!reader->Finish(&what)) {
    *error = std::string(path) + ": " + what;
    return false;
  }
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
  int fd = open(lockPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd >= 0 || errno != ENOENT) return fd;
  struct stat registry {};
  bool registryExists = stat(path.c_str(), &registry) == 0;
  fd = open(lockPath.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC,
            registryExists ? registry.st_mode & 0666 : kNewFileMode);
  if (fd < 0) {
    if (errno == EEXIST)
      return open(lockPath.c_str(),
                  O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
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
  KeyLevels levels;
  if (split != std::u16string::npos &&
      SplitKeyPath(std::u16string_view(wide).substr(split + 1), &levels) !=
          ERROR_SUCCESS) {
    *what = "malformed key path";
    return nullptr;
  }
  RegKeyPtr key = state.roots[static_cast<int>(root->id)];
  *path = Utf8ToWide(root->longName, nullptr);
  for (std::u16string_view level : levels) {
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
// values, then every key below it. A registry file (asFile) leaves out the
// volatile keys and carries the lines that show it complete.
bool FormatStore(RegistryState& state, bool asFile, std::string* text,
                 std::string* error) {
  const bool skipVolatile = asFile;
  *text = asFile ? RegFileHeader() : RegTextHeader();
  for (const RootInfo& info : kRoots) {
    const RegKey& root = *state.roots[static_cast<int>(info.id)];
    if (!AppendKeySections(root, Utf8ToWide(info.longName, nullptr),
                           /*writeSelf=*/!root.values.empty(), skipVolatile,
                           text, error))
      return false;
  }
  if (asFile) *text += RegFileClosing();
  return true;
}

// What the store holds, for the bounds of a merge: keys, and about how much
// text they and their values take in a file.
struct StoreSize {
  size_t keys = 0;
  size_t textBytes = 0;
};

void MeasureTree(const RegKey& key, size_t pathUnits, StoreSize* size) {
  for (const StoredValue& value : key.values) {
    bool text = value.Type() == REG_SZ;
    size->textBytes += value.Name().size() + 8 + value.Size() * (text ? 1 : 3);
  }
  for (const RegKeyPtr& subkey : key.subkeys) {
    size_t subkeyUnits = pathUnits + 1 + subkey->Name().size();
    ++size->keys;
    size->textBytes += subkeyUnits + 4;
    MeasureTree(*subkey, subkeyUnits, size);
  }
}

StoreSize MeasureStore(const RegistryState& state) {
  StoreSize size;
  for (const RootInfo& info : kRoots)
    MeasureTree(*state.roots[static_cast<int>(info.id)],
                std::char_traits<char>::length(info.longName), &size);
  return size;
}

// The keys a merge would make and the length of their names in a file.
// Keys it makes twice count once; removals are not counted, so this is never
// less than what the merge makes.
StoreSize MeasureNewKeys(const std::vector<RegTextOp>& ops,
                         const RegKeyPtr (&roots)[kRootCount]) {
  StoreSize size;
  std::unordered_set<uint64_t> made;  // paths by a hash of their folded names
  for (const RegTextOp& op : ops) {
    if (op.kind != RegTextOp::Kind::kOpenKey) continue;
    const RegKey* key = roots[static_cast<int>(op.root)].get();
    uint64_t hash = 1469598103934665603ULL + static_cast<uint64_t>(op.root);
    size_t pathUnits = std::char_traits<char>::length(
        kRoots[static_cast<int>(op.root)].longName);
    for (const std::u16string& level : op.levels) {
      for (char16_t c : level) hash = (hash ^ UpcaseChar(c)) * 1099511628211ULL;
      hash = (hash ^ u'\\') * 1099511628211ULL;
      pathUnits += 1 + level.size();
      RegKeyPtr existing = key != nullptr ? FindSubkey(*key, level) : nullptr;
      key = existing.get();
      if (key == nullptr && made.insert(hash).second) {
        ++size.keys;
        size.textBytes += pathUnits + 4;
      }
    }
  }
  return size;
}

}  // namespace
}  // namespace internal

using namespace internal;

bool LoadRegistryFile(const char* path, std::string* error) {
  if (path == nullptr) {
    Report(error, "no file name");
    return false;
  }
  int fd = -1;
  std::string what;
  if (!OpenRegistryInput(path, &fd, &what)) {
    Report(error, what);
    return false;
  }
  RegKeyPtr fresh[kRootCount];
  for (RegKeyPtr& root : fresh) root = RegKeyPtr::Make();
  if (fd >= 0) {
    RegTreeBuilder builder(fresh, kMaxRegistryKeys);
    RegTextReader reader(&builder, /*registryFile=*/true);
    bool read = ReadRegistryFile(fd, path, &reader, &what);
    close(fd);
    if (!read) {
      Report(error, what);
      return false;
    }
  }
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
  if (!FormatStore(state, /*asFile=*/true, &text, &what)) {
    Report(error, what);
    return false;
  }
  if (text.size() > kMaxRegistryFileBytes) {
    Report(error, "the registry would take " + std::to_string(text.size()) +
                      " bytes, more than the " + kMaxRegistryFileText +
                      " a registry file may hold; " + path +
                      " was left as it was");
    return false;
  }
  if (!WriteFileAtomically(path, text, &what)) {
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
  // Nothing is made beside a path that can never be a registry file.
  struct stat registry {};
  std::string problem;
  if (stat(path, &registry) == 0 && !IsRegularFile(path, registry, &problem)) {
    Report(error, problem);
    return false;
  }
  int fd = OpenLockFile(path, lockPath);
  if (fd < 0) {
    if (errno == EROFS || (IsAccessError(errno) && !DirectoryWritable(path)))
      return true;
    Report(error, "cannot open " + lockPath + ": " + strerror(errno));
    return false;
  }
  struct stat lockInfo {};
  if (fstat(fd, &lockInfo) != 0 ||
      !IsRegularFile(lockPath.c_str(), lockInfo, &problem)) {
    Report(error,
           problem.empty() ? SystemError("cannot examine", lockPath) : problem);
    close(fd);
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
  if (text.size() > kMaxRegistryFileBytes) {
    Report(error,
           std::string("the text is larger than ") + kMaxRegistryFileText);
    return false;
  }
  if (!ParseRegText(text, &ops, &what)) {
    Report(error, what);
    return false;
  }
  RegistryState& state = Registry();
  std::lock_guard<std::mutex> lock(state.mutex);
  // Section names are written out in full for every key, so a short text of
  // deep, long names can make a huge registry: measured before anything
  // changes.
  StoreSize now = MeasureStore(state);
  StoreSize added = MeasureNewKeys(ops, state.roots);
  if (now.keys + added.keys > kMaxRegistryKeys) {
    Report(error, "the text would make " + std::to_string(added.keys) +
                      " keys, and a registry may hold no more than " +
                      std::to_string(kMaxRegistryKeys) +
                      "; nothing was merged");
    return false;
  }
  if (now.textBytes + added.textBytes + text.size() > kMaxRegistryFileBytes) {
    Report(error, std::string("the text would make the registry file larger "
                              "than ") +
                      kMaxRegistryFileText + "; nothing was merged");
    return false;
  }
  RegTreeBuilder builder(state.roots, kMaxRegistryKeys);
  if (!ReplayRegOps(ops, &builder, &what)) {
    Report(error, what);  // not reached: the bounds were checked above
    return false;
  }
  if (builder.changed()) state.changed = true;
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
    if (!FormatStore(state, /*asFile=*/false, &text, &what)) {
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
