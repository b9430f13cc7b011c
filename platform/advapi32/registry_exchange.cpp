// Naming the registry's database file, and .reg text in and out of it: an
// import is one write transaction, all or nothing; an export reads one
// committed state of the database, whatever other processes write
// meanwhile, and hands its text on in pieces as it goes.
//
// Bounds: one import takes at most kMaxImportBytes of text; an export held
// in memory at most kMaxInMemoryExportBytes, one written to a file any
// size. The database itself has no bound of its own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "registry_enum.h"
#include "registry_exchange.h"
#include "registry_text.h"
#include "registry_text_reader.h"
#include "registry_tree_builder.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr size_t kMaxImportBytes = size_t{1} << 30;
constexpr char kMaxImportText[] = "1 GiB";
constexpr char kSqliteMagic[] = "SQLite format 3";  // and its NUL: 16 bytes

void Report(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what;
}

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Whether bytes start as a .reg text file does: its header, after a UTF-8
// byte-order mark or in UTF-16LE after its mark.
bool StartsAsRegText(std::string_view bytes) {
  std::string narrow;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) narrow.push_back(bytes[i]);
  } else {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    narrow = std::string(bytes);
  }
  auto startsWith = [&](const char* header) {
    size_t length = std::strlen(header);
    return narrow.size() >= length &&
           ::strncasecmp(narrow.data(), header, length) == 0;
  };
  return startsWith(kRegTextHeader) || startsWith(kRegEdit4Header);
}

bool NotARegularFile(const char* path, const struct stat& info,
                     std::string* error) {
  *error = std::string(path) + (S_ISDIR(info.st_mode) ? " is a directory"
                                                      : " is not a regular file");
  return false;
}

// A registry database is a regular file that is empty (a new database) or
// starts with SQLite's header. A missing file is made. Anything else is
// refused before SQLite opens it, so nothing is ever written into it: a
// .reg text file with a word on how to import it, a directory, a FIFO or a
// device (opened without blocking, never read).
bool CheckDatabaseFile(const char* path, std::string* error) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    struct stat info {};
    if (stat(path, &info) == 0 && !S_ISREG(info.st_mode))
      return NotARegularFile(path, info, error);
    *error = SystemError("cannot open", path);
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    *error = SystemError("cannot examine", path);
    close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    return NotARegularFile(path, info, error);
  }
  char start[64];
  ssize_t got;
  do {
    got = read(fd, start, sizeof(start));
  } while (got < 0 && errno == EINTR);
  close(fd);
  if (got < 0) {
    *error = SystemError("cannot read", path);
    return false;
  }
  std::string_view bytes(start, static_cast<size_t>(got));
  if (bytes.empty()) return true;
  if (bytes.size() >= sizeof(kSqliteMagic) &&
      std::memcmp(start, kSqliteMagic, sizeof(kSqliteMagic)) == 0)
    return true;
  if (StartsAsRegText(bytes)) {
    *error = std::string(path) +
             " is a .reg text file, not a registry database; import it "
             "with: qxhost --registry NEW.db reg import " + path;
    return false;
  }
  *error = std::string(path) + " is not a registry database";
  return false;
}

// The key named by "HKEY_...\path" or "HKCR\path"; *path gets its stored
// name. A key of HKEY_CLASSES_ROOT is found through the view (*isView),
// *view its keys in the two trees. Called inside a transaction.
LSTATUS FindKeyByName(RegistryDb& db, std::string_view name, KeyInfo* key,
                      bool* isView, ViewKey* view, std::u16string* path,
                      std::string* what) {
  bool valid = false;
  std::u16string wide = Utf8ToWide(name, &valid);
  if (!valid) {
    *what = "the key name is not valid UTF-8";
    return ERROR_INVALID_PARAMETER;
  }
  size_t split = wide.find(u'\\');
  const RootInfo* root =
      FindRootByName(std::u16string_view(wide).substr(0, split));
  if (root == nullptr) {
    *what = "unknown root key";
    return ERROR_INVALID_PARAMETER;
  }
  KeyLevels levels;
  if (split != std::u16string::npos &&
      SplitKeyPath(std::u16string_view(wide).substr(split + 1), &levels) !=
          ERROR_SUCCESS) {
    *what = "malformed key path";
    return ERROR_INVALID_PARAMETER;
  }
  *key = RootKey(root->id);
  *path = Utf8ToWide(root->longName, nullptr);
  *isView = root->id == RootId::kClassesRoot;
  if (*isView) {
    LSTATUS status = ViewRoot(db, view);
    if (status != ERROR_SUCCESS) {
      *what = std::string("cannot read the registry: ") +
              sqlite3_errmsg(db.get());
      return status;
    }
  }
  std::u16string stored;
  for (std::u16string_view level : levels) {
    KeyInfo next;
    ViewKey nextView;
    LSTATUS status = *isView
                         ? ViewSubkey(db, *view, level, &nextView, &stored)
                         : FindSubkey(db, *key, level, &next, &stored);
    if (status == ERROR_FILE_NOT_FOUND) *what = "the key does not exist";
    if (status != ERROR_SUCCESS) {
      if (status != ERROR_FILE_NOT_FOUND)
        *what = std::string("cannot read the registry: ") +
                sqlite3_errmsg(db.get());
      return status;
    }
    *key = next;
    *view = nextView;
    *path += u'\\';
    *path += stored;
  }
  return ERROR_SUCCESS;
}

// The whole store as .reg text: a root's own section only when it holds
// values, then every key below it. HKEY_CLASSES_ROOT is a view of the
// classes under the other two roots, which hold them: written there, once.
bool FormatStore(RegistryDb& db, TextOut& text, std::string* error) {
  for (const RootInfo& info : kRoots) {
    if (info.id == RootId::kClassesRoot) continue;
    KeyCounts counts;
    KeyId root = RootKey(info.id).id;
    if (CountKey(db, root, &counts) != ERROR_SUCCESS) {
      *error = std::string("cannot read the registry: ") +
               sqlite3_errmsg(db.get());
      return false;
    }
    if (!AppendKeySections(db, root, Utf8ToWide(info.longName, nullptr),
                           /*writeSelf=*/counts.values != 0, text, error))
      return false;
  }
  return true;
}

// The page cache raised for one import: about three times the text's size,
// as the rows and their indexes take, at most kMaxImportCacheKib.
class CacheForImport {
 public:
  CacheForImport(RegistryDb& db, size_t textBytes) : m_db(db) {
    long long kib = static_cast<long long>(textBytes / 1024) * 3;
    if (kib <= kUsualCacheKib) return;
    m_db.SetCacheKib(kib > kMaxImportCacheKib ? kMaxImportCacheKib : kib);
    m_raised = true;
  }
  CacheForImport(const CacheForImport&) = delete;
  CacheForImport& operator=(const CacheForImport&) = delete;
  ~CacheForImport() {
    if (m_raised) m_db.SetCacheKib(kUsualCacheKib);
  }

 private:
  RegistryDb& m_db;
  bool m_raised = false;
};

// The door could not begin, or a write could not commit: what failed.
std::string DatabaseFailure(const char* doing, LSTATUS status,
                            RegistryDb& db) {
  return std::string("cannot ") + doing + " the registry (error " +
         std::to_string(status) + "): " + sqlite3_errmsg(db.get());
}

}  // namespace


bool OpenDatabaseFile(const char* path, std::string* error) {
  if (path == nullptr || *path == '\0') {
    Report(error, "no file name");
    return false;
  }
  std::string what;
  if (!CheckDatabaseFile(path, &what)) {
    Report(error, what);
    return false;
  }
  if (!RegistryStore::Instance().UseDatabaseFile(path, &what)) {
    Report(error, path + std::string(": ") + what);
    return false;
  }
  return true;
}

bool ImportText(const std::string& text, std::string* error) {
  if (text.size() > kMaxImportBytes) {
    Report(error, std::string("the text is larger than ") + kMaxImportText);
    return false;
  }
  RegistryWriter door;
  LSTATUS status = door.status();
  if (status != ERROR_SUCCESS) {
    Report(error, DatabaseFailure("write", status, door.db()));
    return false;
  }
  // A large import dirties pages all over the key index; a page cache
  // that holds them until the commit writes each once. Sized by the text,
  // back to the usual bound afterwards.
  CacheForImport cache(door.db(), text.size());
  RegTreeBuilder builder(door);
  RegTextReader reader(&builder, /*registryFile=*/false);
  std::string what;
  // A text found bad at any line leaves the registry as it was: the
  // door rolls the transaction back.
  if (!reader.Feed(text, &what) || !reader.Finish(&what)) {
    Report(error, what);
    return false;
  }
  if (!builder.changed()) return true;
  status = door.Commit();
  if (status != ERROR_SUCCESS) {
    Report(error,
           DatabaseFailure("write", status, door.db()) + "; nothing was merged");
    return false;
  }
  // An import can leave a log as large as itself; written into the
  // database now, it costs the next process nothing to open.
  door.db().Checkpoint();
  return true;
}

namespace {

// One committed state of the store as text, handed to sink in pieces;
// *bytes gets how much it took.
bool ExportTextTo(const char* key, TextSink& sink, uint64_t* bytes,
                  std::string* error) {
  if (bytes != nullptr) *bytes = 0;
  RegistryReader door;
  LSTATUS status = door.status();
  if (status != ERROR_SUCCESS) {
    Report(error, DatabaseFailure("read", status, door.db()));
    return false;
  }
  TextOut text(sink);
  *text.buffer() = RegTextHeader();
  std::string what;
  bool written = false;
  if (key == nullptr || *key == '\0') {
    written = FormatStore(door.db(), text, &what);
  } else {
    std::u16string path;
    KeyInfo found;
    bool isView = false;
    ViewKey view;
    if (FindKeyByName(door.db(), key, &found, &isView, &view, &path, &what) !=
        ERROR_SUCCESS) {
      Report(error, std::string(key) + ": " + what);
      return false;
    }
    written = isView ? AppendViewSections(door.db(), view, path, text, &what)
                     : AppendKeySections(door.db(), found.id, path,
                                         /*writeSelf=*/true, text, &what);
  }
  if (!written || !text.Pass(/*whole=*/true, &what)) {
    Report(error, what);
    return false;
  }
  if (bytes != nullptr) *bytes = text.bytes();
  return true;
}

}  // namespace

bool ExportText(const char* key, std::string* out, std::string* error) {
  if (out == nullptr) {
    Report(error, "no output");
    return false;
  }
  std::string text;
  StringSink sink(&text);
  if (!ExportTextTo(key, sink, nullptr, error)) return false;
  *out = std::move(text);
  return true;
}

bool ExportTextToFile(const char* key, int fd, uint64_t* bytes,
                      bool* fitsImport, std::string* error) {
  if (bytes != nullptr) *bytes = 0;
  if (fitsImport != nullptr) *fitsImport = true;
  if (fd < 0) {
    Report(error, "no output");
    return false;
  }
  FdSink sink(fd);
  uint64_t written = 0;
  if (!ExportTextTo(key, sink, &written, error)) return false;
  if (bytes != nullptr) *bytes = written;
  if (fitsImport != nullptr) *fitsImport = written <= kMaxImportBytes;
  return true;
}

}  // namespace internal
}  // namespace qxplatform
