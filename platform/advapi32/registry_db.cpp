// The registry database's cached statements and transactions, and how
// names are kept in it. Opening it is registry_db_open.cpp's.
#include "registry_db.h"

#include "platform_internal.h"

namespace qxplatform {
namespace internal {

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

void RegistryDb::SetBusyTimeout(int ms) {
  m_busyTimeoutMs = ms;
  m_lockTimedOut = false;
  if (m_db) sqlite3_busy_timeout(m_db.get(), ms);
}

// Once a write has waited the whole busy timeout for another process's
// lock, the next tries once without waiting and fails at once while the
// lock is still held: a command of many writes fails within one timeout,
// not one per write. The first write that gets the lock brings the wait
// back.
int RegistryDb::BeginWrite() {
  const bool waitedOut = m_lockTimedOut;
  if (waitedOut) sqlite3_busy_timeout(m_db.get(), 0);
  const int rc = RunCached(*this, Sql::kBeginWrite);
  if (waitedOut) sqlite3_busy_timeout(m_db.get(), m_busyTimeoutMs);
  m_lockTimedOut = (rc & 0xFF) == SQLITE_BUSY;
  return rc;
}

bool RegistryDb::DataVersion(unsigned* version) {
  return m_db && sqlite3_file_control(m_db.get(), "main",
                                      SQLITE_FCNTL_DATA_VERSION,
                                      version) == SQLITE_OK;
}

Transaction::~Transaction() {
  if (m_open && RunCached(m_db, Sql::kRollback) != SQLITE_OK)
    sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

LSTATUS Transaction::Begin(Kind kind) {
  if (!m_db.IsOpen()) return ERROR_REGISTRY_IO_FAILED;
  int rc = kind == Kind::kWrite ? m_db.BeginWrite()
                                 : RunCached(m_db, Sql::kBeginRead);
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
