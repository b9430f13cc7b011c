// Opening the registry's database: looking at a file read-only before
// anything is written into it, making a new registry's tables under the
// write lock so that processes creating one file at once all end with the
// same registry, and switching it to the write-ahead log.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "registry_db.h"
#include "registry_migration.h"
#include "registry_time.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr char kNotARegistry[] = "it is an SQLite database, but not a registry";

std::string SqliteError(sqlite3* db, const char* what) {
  return std::string(what) + ": " +
         (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
}

// Reading a database's marks failed: a file SQLite finds damaged (cut
// short, overwritten) is said to be so, apart from other failures.
std::string ReadFailure(sqlite3* db, int rc) {
  const int primary = rc & 0xFF;
  if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
    return SqliteError(db, "the database is damaged or cut short");
  return SqliteError(db, "cannot read the database");
}

bool IsBusy(int rc) {
  return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
}

int QueryInt(sqlite3* db, const char* sql, long long* value) {
  UniqueStatement statement;
  int rc = sqlite3_prepare_v2(db, sql, -1, statement.put(), nullptr);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(statement.get());
  *value = rc == SQLITE_ROW ? sqlite3_column_int64(statement.get(), 0) : 0;
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// What tells a registry database from any other SQLite file.
struct Marks {
  long long applicationId = 0;
  long long schemaVersion = 0;
  long long tables = 0;
  long long pages = 0;

  bool IsRegistry() const {
    return applicationId == kApplicationId && schemaVersion == kSchemaVersion &&
           tables != 0;
  }
  // A registry of the layout that had a classes tree of its own: moved to
  // this one the first time it is opened.
  // Or any earlier layout (registry_migration.h, FiguresUpgradeScript).
  bool IsOldRegistry() const {
    return applicationId == kApplicationId &&
           (schemaVersion == kSchemaVersionWithClassesTree ||
            schemaVersion == kSchemaVersionWithoutFigures) &&
           tables != 0;
  }
  // Nothing was ever written: a new or zero-length file. Whatever else
  // has a page is someone's, even with no table in it.
  bool IsBlank() const { return pages == 0; }
  // The same inside a write transaction, which gives a blank database its
  // first page before anything is written.
  bool IsBlankUnderWriteLock() const {
    return pages <= 1 && tables == 0 && applicationId == 0 &&
           schemaVersion == 0;
  }
};

// The marks of one state of the database: read in one transaction, as
// another process may make the registry between two of the reads.
int ReadMarks(sqlite3* db, Marks* marks) {
  const bool own = sqlite3_get_autocommit(db) != 0;
  int rc = own ? sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr)
               : SQLITE_OK;
  if (rc == SQLITE_OK)
    rc = QueryInt(db, "PRAGMA application_id", &marks->applicationId);
  if (rc == SQLITE_OK)
    rc = QueryInt(db, "PRAGMA user_version", &marks->schemaVersion);
  if (rc == SQLITE_OK)
    rc = QueryInt(db, "SELECT count(*) FROM sqlite_schema", &marks->tables);
  if (rc == SQLITE_OK) rc = QueryInt(db, "PRAGMA page_count", &marks->pages);
  if (own && !sqlite3_get_autocommit(db))
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  return rc;
}

// An existing file of any length is looked at through a read-only
// connection, which writes nothing into it; only this registry's database
// passes. A missing or zero-length file passes, to be made below.
int LookBeforeWriting(const std::string& path, int busyTimeoutMs,
                      std::string* error) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || info.st_size == 0) return SQLITE_OK;
  UniqueSqlite look;
  int rc = sqlite3_open_v2(path.c_str(), look.put(),
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    *error = SqliteError(look.get(), "cannot open the database");
    return rc;
  }
  sqlite3_extended_result_codes(look.get(), 1);
  sqlite3_busy_timeout(look.get(), busyTimeoutMs);
  Marks marks;
  rc = ReadMarks(look.get(), &marks);
  if (rc != SQLITE_OK) {
    *error = ReadFailure(look.get(), rc);
    return rc;
  }
  if (marks.IsRegistry() || marks.IsOldRegistry() || marks.IsBlank())
    return SQLITE_OK;
  *error = kNotARegistry;
  return SQLITE_NOTADB;
}

}  // namespace

int RegistryDb::Exec(const char* sql, std::string* error) {
  char* message = nullptr;
  int rc = sqlite3_exec(m_db.get(), sql, nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return rc;
  // The extended code of the statement that failed, busy ones included.
  rc = sqlite3_extended_errcode(m_db.get());
  *error = std::string(message != nullptr ? message : sqlite3_errstr(rc));
  sqlite3_free(message);
  return rc == SQLITE_OK ? SQLITE_ERROR : rc;
}

bool RegistryDb::OpenMemory(std::string* error) {
  RegistryDb fresh;
  if (fresh.Connect(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                    error) != SQLITE_OK ||
      fresh.MakeOrCheckSchema(error) != SQLITE_OK) {
    *error = "cannot make the registry: " + *error;
    return false;
  }
  Swap(fresh);
  return true;
}

// Another process making or opening the same file can hold a lock that
// SQLite answers busy for without waiting (switching the journal, reading
// the log's index while it is rebuilt); each try starts afresh, for as long
// as a write would wait.
bool RegistryDb::OpenFile(const std::string& path, int busyTimeoutMs,
                          std::string* error) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(busyTimeoutMs);
  for (int attempt = 1;; ++attempt) {
    RegistryDb fresh;
    fresh.m_busyTimeoutMs = busyTimeoutMs;
    const int rc = fresh.TryOpenFile(path, error);
    if (rc == SQLITE_OK) {
      Swap(fresh);
      return true;
    }
    if (!IsBusy(rc) || Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(attempt, 10)));
  }
}

int RegistryDb::TryOpenFile(const std::string& path, std::string* error) {
  int rc = LookBeforeWriting(path, m_busyTimeoutMs, error);
  if (rc != SQLITE_OK) return rc;
  rc = Connect(path.c_str(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
  if (rc == SQLITE_OK) rc = MakeOrCheckSchema(error);
  if (rc == SQLITE_OK) rc = UseWriteAheadLog(error);
  return rc;
}

int RegistryDb::Connect(const char* name, int flags, std::string* error) {
  // The store's mutex serializes every use of the connection, so SQLite's
  // own locking of it would only cost.
  int rc = sqlite3_open_v2(name, m_db.put(), flags | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    *error = SqliteError(m_db.get(), "cannot open the database");
    return rc;
  }
  sqlite3_extended_result_codes(m_db.get(), 1);
  sqlite3_busy_timeout(m_db.get(), m_busyTimeoutMs);
  // Settings of the connection alone: nothing is written by them.
  return Exec(ConnectionSettings().c_str(), error);
}

void RegistryDb::Swap(RegistryDb& other) {
  std::swap(m_db, other.m_db);
  std::swap(m_busyTimeoutMs, other.m_busyTimeoutMs);
  std::swap(m_lockTimedOut, other.m_lockTimedOut);
  for (int i = 0; i < static_cast<int>(Sql::kCount); ++i)
    std::swap(m_statements[i], other.m_statements[i]);
}

// A blank database gets the registry's tables, roots and marks in one
// transaction under the write lock, made while the file still has its
// rollback journal: another process sees it blank or whole, never half
// made. The marks are read again under the lock, as another process may
// have made it first.
int RegistryDb::MakeOrCheckSchema(std::string* error) {
  sqlite3* db = m_db.get();
  Marks marks;
  int rc = ReadMarks(db, &marks);
  if (rc != SQLITE_OK) {
    *error = ReadFailure(db, rc);
    return rc;
  }
  if (marks.IsRegistry()) return SQLITE_OK;
  if (marks.IsOldRegistry()) return MigrateSchema(error);
  if (!marks.IsBlank()) {
    *error = kNotARegistry;
    return SQLITE_NOTADB;
  }
  rc = Exec("BEGIN IMMEDIATE", error);
  if (rc == SQLITE_OK) {
    rc = ReadMarks(db, &marks);
    if (rc != SQLITE_OK) *error = sqlite3_errmsg(db);
  }
  if (rc == SQLITE_OK && !marks.IsRegistry()) {
    if (marks.IsBlankUnderWriteLock()) {
      const std::string sql =
          SchemaScript(FileTimeTicks(CurrentFileTime())) + "COMMIT;";
      rc = Exec(sql.c_str(), error);
      if (rc != SQLITE_OK) *error = "cannot make the registry's tables: " + *error;
    } else {
      *error = kNotARegistry;
      rc = SQLITE_NOTADB;
    }
  } else if (rc != SQLITE_OK) {
    *error = "cannot make the registry's tables: " + *error;
  }
  // Still in a transaction: it failed, or the registry was there already.
  // The first failure is the one to tell; the rollback's own is not.
  if (!sqlite3_get_autocommit(db)) {
    std::string ignored;
    (void)Exec("ROLLBACK", &ignored);
  }
  return rc;
}

// An earlier layout is brought to this one in one transaction under the
// write lock: another process opening the file meanwhile waits and then
// finds it moved, or moved it first (the marks are read again under the
// lock).
int RegistryDb::MigrateSchema(std::string* error) {
  sqlite3* db = m_db.get();
  int rc = Exec("BEGIN IMMEDIATE", error);
  Marks marks;
  if (rc == SQLITE_OK) {
    rc = ReadMarks(db, &marks);
    if (rc != SQLITE_OK) *error = sqlite3_errmsg(db);
  }
  if (rc == SQLITE_OK && marks.IsOldRegistry()) {
    // Each step in turn, from the layout the file has.
    const LSTATUS status =
        marks.schemaVersion == kSchemaVersionWithClassesTree
            ? MoveClassesTreeToMachine(*this)
            : ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) {
      *error = "cannot move HKEY_CLASSES_ROOT into the machine's classes "
               "(error " + std::to_string(status) + "): " +
               sqlite3_errmsg(db);
      rc = SQLITE_ERROR;
    } else {
      long long hasColumns = 0;
      rc = QueryInt(db,
                    "SELECT count(*) FROM pragma_table_info('keys') "
                    "WHERE name = 'subkeys'",
                    &hasColumns);
      if (rc == SQLITE_OK) {
        const std::string sql =
            FiguresUpgradeScript(/*addColumns=*/hasColumns == 0) + "COMMIT;";
        rc = Exec(sql.c_str(), error);
      } else {
        *error = sqlite3_errmsg(db);
      }
      if (rc != SQLITE_OK) *error = "cannot bring the registry up to date: " + *error;
    }
  } else if (rc == SQLITE_OK && !marks.IsRegistry()) {
    *error = kNotARegistry;
    rc = SQLITE_NOTADB;
  }
  if (!sqlite3_get_autocommit(db)) {
    std::string ignored;
    (void)Exec("ROLLBACK", &ignored);
  }
  return rc;
}

// The journal mode is the file's and lasts; switching to the log takes the
// database exclusively for a moment, which another process's read makes
// busy. Asking on a file already in the log is a read.
int RegistryDb::UseWriteAheadLog(std::string* error) {
  UniqueStatement mode;
  int rc = sqlite3_prepare_v2(m_db.get(), "PRAGMA journal_mode = WAL", -1,
                              mode.put(), nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(mode.get());
  if (rc != SQLITE_ROW) {
    *error = SqliteError(m_db.get(), "cannot use the write-ahead log");
    return rc == SQLITE_OK || rc == SQLITE_DONE ? SQLITE_ERROR : rc;
  }
  const unsigned char* answer = sqlite3_column_text(mode.get(), 0);
  if (answer == nullptr ||
      std::strcmp(reinterpret_cast<const char*>(answer), "wal") != 0) {
    *error = "the database cannot use a write-ahead log";
    return SQLITE_ERROR;
  }
  return SQLITE_OK;
}

}  // namespace internal
}  // namespace qxplatform
