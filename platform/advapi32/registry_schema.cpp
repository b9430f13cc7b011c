// The registry database's tables, root rows and statements.
#include "registry_schema.h"

namespace qxplatform {
namespace internal {
namespace {

// The columns of a key row's figures (kKeyFigures), after `sep`.
#define QX_KEY_FIGURES(sep)                                           \
  sep " subkeys INTEGER NOT NULL DEFAULT 0"                           \
  sep " longest_subkey INTEGER NOT NULL DEFAULT 0"                    \
  sep " nvalues INTEGER NOT NULL DEFAULT 0"                           \
  sep " longest_value INTEGER NOT NULL DEFAULT 0"                     \
  sep " longest_data INTEGER NOT NULL DEFAULT 0"
// A parent's figures as a key row comes below it or leaves it.
#define QX_KEY_GAINED(row)                                              \
  "UPDATE keys SET subkeys = subkeys + 1, longest_subkey = "            \
  "max(longest_subkey, length(" row ".name)) WHERE id = " row ".parent;"
#define QX_KEY_LOST(row)                                                \
  "UPDATE keys SET subkeys = subkeys - 1, longest_subkey = CASE WHEN "  \
  "subkeys = 1 THEN 0 ELSE longest_subkey END WHERE id = " row ".parent;"

// The ids of the keys the seed selects and of every key below them, found
// from the parent index. Deleting a subtree, its values and the volatile
// keys' trees all walk it.
#define QX_TREE_OF(seed)                                                 \
  "WITH RECURSIVE tree(id) AS (" seed " UNION ALL SELECT keys.id FROM keys" \
  " JOIN tree ON keys.parent = tree.id) SELECT id FROM tree"

constexpr const char* kStatementText[] = {
    // kKeyFigures
    "SELECT subkeys, longest_subkey, nvalues, longest_value, longest_data "
    "FROM keys WHERE id = ?1",
    // kSharedSubkeys: how many of ?1's subkeys ?2 has a namesake of, walked
    // over ?1's (the user's classes key, the smaller as a rule)
    "SELECT count(*) FROM keys AS a JOIN keys AS b ON b.parent = ?2 AND "
    "b.folded = a.folded WHERE a.parent = ?1",
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
    " last_write INTEGER NOT NULL" QX_KEY_FIGURES(",") ");"
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

// The figures a key row keeps of its children follow every insert, delete
// and move of a key or value row, whichever code runs it: the entry points,
// an import, the deletion of a subtree or of the volatile trees, a
// migration. A count is exact. A longest figure only grows (a delete would
// have to read the other children to shrink it), back to 0 once the last
// child is gone; it is the name's stored length, which is its length in
// ANSI bytes for an ASCII name and at least that for any other in every
// code page (EncodeUnits writes a unit in up to three bytes, a code page in
// at most that).
constexpr char kFigureTriggers[] =
    "CREATE TRIGGER IF NOT EXISTS key_added AFTER INSERT ON keys "
    "WHEN NEW.parent IS NOT NULL BEGIN " QX_KEY_GAINED("NEW") " END;"
    "CREATE TRIGGER IF NOT EXISTS key_deleted AFTER DELETE ON keys "
    "WHEN OLD.parent IS NOT NULL BEGIN " QX_KEY_LOST("OLD") " END;"
    "CREATE TRIGGER IF NOT EXISTS key_moved AFTER UPDATE OF parent ON keys "
    "WHEN OLD.parent IS NOT NEW.parent BEGIN " QX_KEY_LOST("OLD")
    QX_KEY_GAINED("NEW") " END;"
    "CREATE TRIGGER IF NOT EXISTS value_added AFTER INSERT ON vals BEGIN "
    "UPDATE keys SET nvalues = nvalues + 1,"
    " longest_value = max(longest_value, length(NEW.name)),"
    " longest_data = max(longest_data, length(NEW.data))"
    " WHERE id = NEW.key; END;"
    "CREATE TRIGGER IF NOT EXISTS value_deleted AFTER DELETE ON vals BEGIN "
    "UPDATE keys SET nvalues = nvalues - 1,"
    " longest_value = CASE WHEN nvalues = 1 THEN 0 ELSE longest_value END,"
    " longest_data = CASE WHEN nvalues = 1 THEN 0 ELSE longest_data END"
    " WHERE id = OLD.key; END;"
    "CREATE TRIGGER IF NOT EXISTS value_changed AFTER UPDATE OF data ON vals "
    "BEGIN UPDATE keys SET longest_data = max(longest_data, length(NEW.data))"
    " WHERE id = NEW.key; END;";

#undef QX_KEY_GAINED
#undef QX_KEY_LOST

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

std::string FiguresUpgradeScript(bool addColumns) {
  // The columns' list, its leading separator dropped.
  const std::string columns =
      addColumns
          ? std::string(QX_KEY_FIGURES("; ALTER TABLE keys ADD COLUMN")).substr(1) +
                ";"
          : std::string();
  return columns + std::string(
         "UPDATE keys SET"
         " subkeys = (SELECT count(*) FROM keys AS c WHERE c.parent = keys.id),"
         " longest_subkey = (SELECT IFNULL(max(length(c.name)), 0)"
         "  FROM keys AS c WHERE c.parent = keys.id),"
         " nvalues = (SELECT count(*) FROM vals WHERE vals.key = keys.id),"
         " longest_value = (SELECT IFNULL(max(length(vals.name)), 0)"
         "  FROM vals WHERE vals.key = keys.id),"
         " longest_data = (SELECT IFNULL(max(length(vals.data)), 0)"
         "  FROM vals WHERE vals.key = keys.id);") +
         kFigureTriggers + "PRAGMA user_version = " +
         std::to_string(kSchemaVersion) + ";";
}

std::string SchemaScript(long long now) {
  std::string sql = std::string(kTables) + kFigureTriggers +
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
