// The registry's database: one SQLite connection in write-ahead-log mode,
// its schema, its cached statements and its transactions. A file database
// is shared by every process that names it; before any file is named the
// store is a private in-memory database.
//
// Schema: keys(id, parent, name, folded, depth, volatile, last_write), the
// four roots as rows 1 to 4, ids never reused (a handle names its key by
// id, so a deleted key's id must never come to name another); vals(key,
// folded, seq, name, type, data), seq giving the order values were first
// set. Names are blobs of their encoded units (EncodeUnits); folded names
// are the upper-cased units encoded alike, so that comparing the blobs
// bytewise orders them as the registry orders names. Deleting a key removes its subtree and their
// values by a walk down the parent index; a volatile key's subkeys are all
// volatile, so removing the volatile keys removes whole subtrees.
#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <string>

#include <windows.h>

#include "sqlite_holders.h"

namespace qxplatform {
namespace internal {

// The statements the store runs, prepared once per connection.
enum class Sql {
  kLoadKey,
  kFindSubkey,
  kAddSubkey,
  kTouchKey,
  kDeleteKey,
  kFirstSubkey,
  kSubkeyAfter,
  kSubkeyAtOrAfter,
  kSubkeyAtOffset,
  kSubkeyNames,
  kFindValue,
  kUpdateValue,
  kInsertValue,
  kDeleteValue,
  kValueAfter,
  kValueAtOrAfter,
  kValueAtOffset,
  kValueSizes,
  kValuesInOrder,
  kSubkeysInOrder,
  kInsertNewValue,
  kBeginRead,
  kBeginWrite,
  kCommit,
  kRollback,
  kDeleteOrphanValues,
  kCount
};

class RegistryDb {
 public:
  // A private in-memory database, or the file at path (made when missing).
  // The file must be an SQLite database or empty; *error says why not.
  bool OpenMemory(std::string* error);
  bool OpenFile(const std::string& path, std::string* error);

  bool IsOpen() const { return static_cast<bool>(m_db); }
  sqlite3* get() const { return m_db.get(); }
  // The cached statement, prepared on first use; null when it cannot be.
  sqlite3_stmt* Statement(Sql which);
  // A number that changes whenever any connection commits to the database.
  bool DataVersion(unsigned* version);
  // Takes over another connection (the old one closes).
  void Swap(RegistryDb& other);

 private:
  bool Configure(bool file, std::string* error);
  // Opens name (a path, or ":memory:") as the database; failure heads the
  // message when it cannot be opened.
  bool Open(const char* name, bool file, const char* failure,
            std::string* error);
  bool Exec(const char* sql, std::string* error);
  bool ClearVolatileKeysOfEarlierBoots(std::string* error);

  UniqueSqlite m_db;
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

  LSTATUS Begin(Kind kind);
  LSTATUS Commit();

 private:
  RegistryDb& m_db;
  bool m_open = false;
};

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
