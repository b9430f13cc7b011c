// Opening and configuring the registry's database, its cached statements
// and its transactions.
#include "registry_db.h"

#include <cstring>

#include "platform_internal.h"
#include "registry_time.h"

namespace qxplatform {
namespace internal {
namespace {

// How long a writer waits for another process's write to end before the
// call fails with ERROR_LOCK_VIOLATION. One call's write takes far less.
constexpr int kBusyTimeoutMs = 20000;

std::string SqliteError(sqlite3* db, const char* what) {
  return std::string(what) + ": " +
         (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
}

bool QueryInt(sqlite3* db, const char* sql, long long* value) {
  UniqueStatement statement;
  if (sqlite3_prepare_v2(db, sql, -1, statement.put(), nullptr) != SQLITE_OK)
    return false;
  int rc = sqlite3_step(statement.get());
  *value = rc == SQLITE_ROW ? sqlite3_column_int64(statement.get(), 0) : 0;
  return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

}  // namespace

int BindBlob(sqlite3_stmt* statement, int index, const void* data,
             size_t size) {
  static const char kEmpty = 0;
  return sqlite3_bind_blob64(statement, index, size == 0 ? &kEmpty : data,
                             size, SQLITE_STATIC);
}

std::string EncodeUnits(std::u16string_view units) {
  std::string bytes;
  bytes.reserve(units.size());
  for (char16_t unit : units) {
    if (unit < 0x80) {
      bytes.push_back(static_cast<char>(unit));
    } else if (unit < 0x800) {
      bytes.push_back(static_cast<char>(0xC0 | (unit >> 6)));
      bytes.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    } else {
      bytes.push_back(static_cast<char>(0xE0 | (unit >> 12)));
      bytes.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    }
  }
  return bytes;
}

std::u16string ColumnUnits(sqlite3_stmt* statement, int column) {
  const auto* bytes =
      static_cast<const unsigned char*>(sqlite3_column_blob(statement, column));
  const size_t size = static_cast<size_t>(sqlite3_column_bytes(statement, column));
  std::u16string units;
  units.reserve(size);
  for (size_t i = 0; i < size;) {
    unsigned char lead = bytes[i];
    if (lead < 0x80) {
      units.push_back(lead);
      i += 1;
    } else if (lead < 0xE0 && i + 1 < size) {
      units.push_back(static_cast<char16_t>(((lead & 0x1F) << 6) |
                                            (bytes[i + 1] & 0x3F)));
      i += 2;
    } else if (i + 2 < size) {
      units.push_back(static_cast<char16_t>(((lead & 0x0F) << 12) |
                                            ((bytes[i + 1] & 0x3F) << 6) |
                                            (bytes[i + 2] & 0x3F)));
      i += 3;
    } else {
      break;  // not written by EncodeUnits: the rest is dropped
    }
  }
  return units;
}

size_t ColumnAnsiLength(sqlite3_stmt* statement, int column) {
  const auto* bytes =
      static_cast<const unsigned char*>(sqlite3_column_blob(statement, column));
  const size_t size = static_cast<size_t>(sqlite3_column_bytes(statement, column));
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] >= 0x80)
      return WideToAnsi(ColumnUnits(statement, column)).size();
  }
  return size;
}

LSTATUS StatusOfSqlite(int code) {
  switch (code & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_LOCK_VIOLATION;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ERROR_BADDB;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

bool RegistryDb::Exec(const char* sql, std::string* error) {
  char* message = nullptr;
  int rc = sqlite3_exec(m_db.get(), sql, nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return true;
  *error = std::string(message != nullptr ? message : sqlite3_errstr(rc));
  sqlite3_free(message);
  return false;
}

bool RegistryDb::OpenMemory(std::string* error) {
  return Open(":memory:", /*file=*/false, "cannot make the registry", error);
}

bool RegistryDb::OpenFile(const std::string& path, std::string* error) {
  return Open(path.c_str(), /*file=*/true, "cannot open the database", error);
}

bool RegistryDb::Open(const char* name, bool file, const char* failure,
                      std::string* error) {
  UniqueSqlite db;
  // The store's mutex serializes every use of the connection, so SQLite's
  // own locking of it would only cost.
  int rc = sqlite3_open_v2(
      name, db.put(),
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
      nullptr);
  if (rc != SQLITE_OK) {
    *error = SqliteError(db.get(), failure);
    return false;
  }
  RegistryDb fresh;
  fresh.m_db = std::move(db);
  if (!fresh.Configure(file, error)) return false;
  Swap(fresh);
  return true;
}

void RegistryDb::Swap(RegistryDb& other) {
  std::swap(m_db, other.m_db);
  for (int i = 0; i < static_cast<int>(Sql::kCount); ++i)
    std::swap(m_statements[i], other.m_statements[i]);
}

bool RegistryDb::Configure(bool file, std::string* error) {
  sqlite3_extended_result_codes(m_db.get(), 1);
  sqlite3_busy_timeout(m_db.get(), kBusyTimeoutMs);
  if (file && !UseWriteAheadLog(error)) return false;
  return Exec(ConnectionSettings().c_str(), error) &&
         MakeOrCheckSchema(error);
}

// The journal mode is the file's; asking for it is a read, and it answers
// the mode in force.
bool RegistryDb::UseWriteAheadLog(std::string* error) {
  UniqueStatement mode;
  if (sqlite3_prepare_v2(m_db.get(), "PRAGMA journal_mode = WAL", -1,
                         mode.put(), nullptr) != SQLITE_OK ||
      sqlite3_step(mode.get()) != SQLITE_ROW) {
    *error = SqliteError(m_db.get(), "cannot use the write-ahead log");
    return false;
  }
  const unsigned char* answer = sqlite3_column_text(mode.get(), 0);
  if (answer == nullptr ||
      std::strcmp(reinterpret_cast<const char*>(answer), "wal") != 0) {
    *error = "the database cannot use a write-ahead log";
    return false;
  }
  return true;
}

// An empty database gets the registry's tables and roots; any other must
// carry the registry's marks.
bool RegistryDb::MakeOrCheckSchema(std::string* error) {
  sqlite3* db = m_db.get();
  long long applicationId = 0, schemaVersion = 0, tables = 0;
  if (!QueryInt(db, "PRAGMA application_id", &applicationId) ||
      !QueryInt(db, "PRAGMA user_version", &schemaVersion) ||
      !QueryInt(db, "SELECT count(*) FROM sqlite_schema", &tables)) {
    *error = SqliteError(db, "cannot read the database");
    return false;
  }
  if (tables != 0) {
    if (applicationId == kApplicationId && schemaVersion == kSchemaVersion)
      return true;
    *error = "it is an SQLite database, but not a registry";
    return false;
  }
  const std::string sql = "BEGIN IMMEDIATE;" +
                          SchemaScript(FileTimeTicks(CurrentFileTime())) + "COMMIT;";
  if (!Exec(sql.c_str(), error)) {
    // The first failure is the one to tell; the rollback's own is not.
    std::string ignored;
    Exec("ROLLBACK", &ignored);
    *error = "cannot make the registry's tables: " + *error;
    return false;
  }
  return true;
}

sqlite3_stmt* RegistryDb::Statement(Sql which) {
  UniqueStatement& slot = m_statements[static_cast<int>(which)];
  if (!slot && m_db) {
    sqlite3_prepare_v3(m_db.get(), StatementText(which), -1,
                       SQLITE_PREPARE_PERSISTENT, slot.put(), nullptr);
  }
  return slot.get();
}

void RegistryDb::SetCacheKib(long long kib) {
  const std::string sql = CacheSizeSetting(kib);
  sqlite3_exec(m_db.get(), sql.c_str(), nullptr, nullptr, nullptr);
}

void RegistryDb::Checkpoint() {
  sqlite3_wal_checkpoint_v2(m_db.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE,
                            nullptr, nullptr);
}

bool RegistryDb::DataVersion(unsigned* version) {
  return m_db && sqlite3_file_control(m_db.get(), "main",
                                      SQLITE_FCNTL_DATA_VERSION,
                                      version) == SQLITE_OK;
}

namespace {

// Runs one of the cached statements that take no row: the transaction's
// own, prepared once rather than parsed on every call.
int RunCached(RegistryDb& db, Sql which) {
  sqlite3_stmt* statement = db.Statement(which);
  if (statement == nullptr) return sqlite3_errcode(db.get());
  int rc = sqlite3_step(statement);
  sqlite3_reset(statement);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

}  // namespace

Transaction::~Transaction() {
  if (m_open && RunCached(m_db, Sql::kRollback) != SQLITE_OK)
    sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

LSTATUS Transaction::Begin(Kind kind) {
  if (!m_db.IsOpen()) return ERROR_REGISTRY_IO_FAILED;
  int rc = RunCached(m_db, kind == Kind::kWrite ? Sql::kBeginWrite
                                                 : Sql::kBeginRead);
  if (rc != SQLITE_OK) return StatusOfSqlite(rc);
  m_open = true;
  return ERROR_SUCCESS;
}

LSTATUS Transaction::Commit() {
  int rc = RunCached(m_db, Sql::kCommit);
  if (rc != SQLITE_OK) return StatusOfSqlite(rc);
  m_open = false;
  return ERROR_SUCCESS;
}

}  // namespace internal
}  // namespace qxplatform
