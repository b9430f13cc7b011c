// The registry's database: one SQLite connection in write-ahead-log mode,
// its cached statements and its transactions. A file database is shared by
// every process that names it; before any file is named the store is a
// private in-memory database. What the tables hold is registry_schema.h's.
#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <string>

#include <windows.h>

#include "registry_schema.h"
#include "sqlite_holders.h"

namespace qxplatform {
namespace internal {

// How long a write waits for another process's write to end before the
// call fails with ERROR_LOCK_VIOLATION. One call's write takes far less.
constexpr int kRegistryBusyTimeoutMs = 20000;

class RegistryDb {
 public:
  // A private in-memory database, or the file at path (made when missing),
  // waiting up to busyTimeoutMs for other processes' locks. The file must
  // be empty or this registry's database; it is looked at read-only first,
  // and nothing is written into any other. *error says why not.
  [[nodiscard]] bool OpenMemory(std::string* error);
  [[nodiscard]] bool OpenFile(const std::string& path, int busyTimeoutMs,
                              std::string* error);

  bool IsOpen() const { return static_cast<bool>(m_db); }
  sqlite3* get() const { return m_db.get(); }
  // The cached statement, prepared on first use; null when it cannot be.
  sqlite3_stmt* Statement(Sql which);
  // A number that changes whenever any connection commits to the database.
  bool DataVersion(unsigned* version);
  // Takes over another connection (the old one closes).
  void Swap(RegistryDb& other);
  // How long a write waits for another process's lock; a write that waited
  // it out makes the next try without waiting (BeginWrite).
  void SetBusyTimeout(int ms);
  // Begins a write transaction: the SQLite result.
  [[nodiscard]] int BeginWrite();
  // The page cache's bound, in KiB; best effort.
  void SetCacheKib(long long kib);
  // Writes the log into the database and cuts it back; best effort: a
  // reader still in the log keeps it for a later checkpoint.
  void Checkpoint();

 private:
  // One try at opening the file: the SQLite result, SQLITE_BUSY when
  // another process's lock was in the way.
  [[nodiscard]] int TryOpenFile(const std::string& path, std::string* error);
  // Connects to name (a path, or ":memory:") with flags and this
  // connection's settings.
  [[nodiscard]] int Connect(const char* name, int flags, std::string* error);
  [[nodiscard]] int MakeOrCheckSchema(std::string* error);
  [[nodiscard]] int MigrateSchema(std::string* error);
  [[nodiscard]] int UseWriteAheadLog(std::string* error);
  [[nodiscard]] int Exec(const char* sql, std::string* error);

  UniqueSqlite m_db;
  int m_busyTimeoutMs = kRegistryBusyTimeoutMs;
  // The last write waited the whole busy timeout and did not begin.
  bool m_lockTimedOut = false;
  UniqueStatement m_statements[static_cast<int>(Sql::kCount)];
};

// The status a registry call answers for an SQLite result code.
LSTATUS StatusOfSqlite(int code);

// One registry call's transaction: a read sees one committed state of the
// database, a write is all or nothing and durable once Commit returns.
// Without Commit the destructor rolls back.
class Transaction {
 public:
  enum class Kind { kRead, kWrite };
  explicit Transaction(RegistryDb& db) : m_db(db) {}
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction();

  [[nodiscard]] LSTATUS Begin(Kind kind);
  [[nodiscard]] LSTATUS Commit();

 private:
  RegistryDb& m_db;
  bool m_open = false;
};

// A cached statement in use: reset and its bindings cleared when the use
// ends, so the next user starts clean and no read stays open. A statement
// that cannot be prepared leaves it empty, with the failure's status.
class StatementUse {
 public:
  StatementUse(RegistryDb& db, Sql which)
      : m_db(db), m_statement(db.Statement(which)) {}
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  ~StatementUse() {
    if (m_statement != nullptr) {
      sqlite3_reset(m_statement);
      sqlite3_clear_bindings(m_statement);
    }
  }
  sqlite3_stmt* get() const { return m_statement; }
  explicit operator bool() const { return m_statement != nullptr; }
  // Why the statement could not be prepared.
  [[nodiscard]] LSTATUS Failure() const {
    return StatusOfSqlite(sqlite3_errcode(m_db.get()));
  }

 private:
  RegistryDb& m_db;
  sqlite3_stmt* m_statement;
};

// The status of a statement that was to finish without a row.
inline LSTATUS Finished(int rc) {
  return rc == SQLITE_DONE ? ERROR_SUCCESS : StatusOfSqlite(rc);
}

// Binding a name or data: a zero-length blob, never NULL.
int BindBlob(sqlite3_stmt* statement, int index, const void* data,
             size_t size);

// Names are kept as their UTF-16 units each written the way UTF-8 writes a
// code point (one byte for ASCII, up to three): half the size of UTF-16 for
// the ASCII names nearly all keys have, any unit sequence kept exactly
// (unpaired surrogates too), and bytewise order is the units' order.
std::string EncodeUnits(std::u16string_view units);
// A name column as it was encoded.
std::u16string ColumnUnits(sqlite3_stmt* statement, int column);
// The length of such a name in ANSI bytes: its byte count when all of it
// is ASCII.
size_t ColumnAnsiLength(sqlite3_stmt* statement, int column);

}  // namespace internal
}  // namespace qxplatform
