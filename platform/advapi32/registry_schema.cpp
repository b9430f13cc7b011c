// The registry database's tables, root rows and statements.
#include "registry_schema.h"

namespace qxplatform {
namespace internal {
namespace {

// The ids of the keys the seed selects and of every key below them, found
// from the parent index. Deleting a subtree, its values and the volatile
// keys' trees all walk it.
#define QX_TREE_OF(seed)                                                 \
  "WITH RECURSIVE tree(id) AS (" seed " UNION ALL SELECT keys.id FROM keys" \
  " JOIN tree ON keys.parent = tree.id) SELECT id FROM tree"

constexpr const char* kStatementText[] = {
    // kLoadKey
    "SELECT depth, volatile, last_write FROM keys WHERE id = ?1",
    // kFindSubkey
    "SELECT id, depth, volatile, last_write, name FROM keys "
    "WHERE parent = ?1 AND folded = ?2",
    // kAddSubkey
    "INSERT INTO keys(parent, name, folded, depth, volatile, last_write) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
    // kTouchKey
    "UPDATE keys SET last_write = ?2 WHERE id = ?1",
    // kDeleteKey: the subtree's rows
    "DELETE FROM keys WHERE id IN (" QX_TREE_OF("SELECT ?1") ")",
    // kDeleteTreeValues: the values of the subtree kDeleteKey removes, run
    // before it
    "DELETE FROM vals WHERE key IN (" QX_TREE_OF("SELECT ?1") ")",
    // kTreeKeys
    QX_TREE_OF("SELECT ?1"),
    // kFirstSubkey
    "SELECT id, name, folded, last_write FROM keys WHERE parent = ?1 "
    "ORDER BY folded LIMIT 1",
    // kSubkeyAfter
    "SELECT id, name, folded, last_write FROM keys "
    "WHERE parent = ?1 AND folded > ?2 ORDER BY folded LIMIT 1",
    // kSubkeyAtOrAfter
    "SELECT id, name, folded, last_write FROM keys "
    "WHERE parent = ?1 AND folded >= ?2 ORDER BY folded LIMIT 1",
    // kSubkeyAtOffset
    "SELECT id, name, folded, last_write FROM keys WHERE parent = ?1 "
    "ORDER BY folded LIMIT 1 OFFSET ?2",
    // kSubkeyNames
    "SELECT name FROM keys WHERE parent = ?1",
    // kFindValue
    "SELECT name, type, data FROM vals WHERE key = ?1 AND folded = ?2",
    // kUpdateValue, like the other statements that write a value: ?1 key,
    // ?2 folded name, ?3 name, ?4 type, ?5 data, ?6 order number
    "UPDATE vals SET type = ?4, data = ?5 WHERE key = ?1 AND folded = ?2",
    // kInsertValue: as the next in order unless ?6 says which
    "INSERT INTO vals(key, folded, seq, name, type, data) VALUES (?1, ?2, "
    "IFNULL(?6, (SELECT IFNULL(MAX(seq), 0) + 1 FROM vals WHERE key = ?1)), "
    "?3, ?4, ?5)",
    // kDeleteValue
    "DELETE FROM vals WHERE key = ?1 AND folded = ?2",
    // kValueAfter
    "SELECT seq, name, type, data FROM vals WHERE key = ?1 AND seq > ?2 "
    "ORDER BY seq LIMIT 1",
    // kValueAtOrAfter
    "SELECT seq, name, type, data FROM vals WHERE key = ?1 AND seq >= ?2 "
    "ORDER BY seq LIMIT 1",
    // kValueAtOffset
    "SELECT seq, name, type, data FROM vals WHERE key = ?1 "
    "ORDER BY seq LIMIT 1 OFFSET ?2",
    // kValueSizes
    "SELECT name, length(data) FROM vals WHERE key = ?1",
    // kValuesInOrder
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY seq",
    // kSubkeysInOrder
    "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY folded",
    // kBeginRead
    "BEGIN",
    // kBeginWrite
    "BEGIN IMMEDIATE",
    // kCommit
    "COMMIT",
    // kRollback
    "ROLLBACK",
    // kDeleteVolatileValues: the values of every volatile key's subtree,
    // run before kDeleteVolatileKeys
    "DELETE FROM vals WHERE key IN ("
    QX_TREE_OF("SELECT id FROM keys WHERE volatile = 1") ")",
    // kDeleteVolatileKeys: whole subtrees, whatever their keys say of
    // themselves
    "DELETE FROM keys WHERE id IN ("
    QX_TREE_OF("SELECT id FROM keys WHERE volatile = 1") ")",
    // kClearValues
    "DELETE FROM vals",
    // kClearKeys: all but the roots
    "DELETE FROM keys WHERE parent IS NOT NULL",
    // kTouchAllKeys
    "UPDATE keys SET last_write = ?1",
    // kReadBoot
    "SELECT value FROM meta WHERE name = 'boot'",
    // kWriteBoot
    "INSERT OR REPLACE INTO meta(name, value) VALUES ('boot', ?1)",
};
static_assert(sizeof(kStatementText) / sizeof(kStatementText[0]) ==
                  static_cast<size_t>(Sql::kCount),
              "a text for every statement");

#undef QX_TREE_OF

constexpr char kTables[] =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER,"
    " name BLOB NOT NULL,"
    " folded BLOB NOT NULL,"
    " depth INTEGER NOT NULL,"
    " volatile INTEGER NOT NULL DEFAULT 0,"
    " last_write INTEGER NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS keys_by_name ON keys(parent, folded);"
    "CREATE TABLE IF NOT EXISTS vals("
    " key INTEGER NOT NULL,"
    " folded BLOB NOT NULL,"
    " seq INTEGER NOT NULL,"
    " name BLOB NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(key, folded)) WITHOUT ROWID;"
    "CREATE UNIQUE INDEX IF NOT EXISTS vals_in_order ON vals(key, seq);"
    "CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value);";

}  // namespace

const char* StatementText(Sql which) {
  return kStatementText[static_cast<int>(which)];
}

// Names of ASCII letters are kept as themselves (EncodeUnits), folded in
// upper case.
std::string MachineClassesScript(long long now) {
  const std::string machine =
      std::to_string(RootRowId(RootId::kLocalMachine));
  const std::string stamp = std::to_string(now);
  return "INSERT OR IGNORE INTO keys(parent, name, folded, depth, last_write) "
         "VALUES (" + machine + ", CAST('SOFTWARE' AS BLOB), "
         "CAST('SOFTWARE' AS BLOB), 1, " + stamp + ");"
         "INSERT OR IGNORE INTO keys(parent, name, folded, depth, last_write) "
         "SELECT id, CAST('Classes' AS BLOB), CAST('CLASSES' AS BLOB), 2, " +
         stamp + " FROM keys WHERE parent = " + machine +
         " AND folded = CAST('SOFTWARE' AS BLOB);";
}

std::string SchemaScript(long long now) {
  std::string sql = std::string(kTables) +
                    "PRAGMA application_id = " +
                    std::to_string(kApplicationId) +
                    "; PRAGMA user_version = " +
                    std::to_string(kSchemaVersion) + ";";
  // A root's name is empty; its folded name only has to differ from the
  // other roots' for the unique index.
  for (int root = 0; root < kRootCount; ++root) {
    const std::string id =
        std::to_string(RootRowId(static_cast<RootId>(root)));
    sql += "INSERT OR IGNORE INTO keys(id, parent, name, folded, depth, "
           "last_write) VALUES (" + id + ", NULL, x'', x'" + id + "0', 0, " +
           std::to_string(now) + ");";
  }
  return sql + MachineClassesScript(now);
}

// FULL: a write's commit reaches the disk before the call returns. The log
// is cut back after checkpoints, so one large import leaves no file of its
// size beside the database.
std::string ConnectionSettings() {
  return "PRAGMA synchronous = FULL; PRAGMA journal_size_limit = 67108864; " +
         CacheSizeSetting(kUsualCacheKib);
}

std::string CacheSizeSetting(long long kib) {
  return "PRAGMA cache_size = -" + std::to_string(kib);
}

}  // namespace internal
}  // namespace qxplatform
