// Everything the registry knows of its database's layout, in one place:
// the tables, the root rows, the statements the store runs, the marks that
// tell a registry database from any other SQLite file, and the page cache.
//
// Tables: keys(id, parent, name, folded, depth, volatile, last_write, and
// the figures RegQueryInfoKeyA reports: subkeys, longest_subkey, nvalues,
// longest_value, longest_data, kept by triggers on every write), the
// roots as rows 1 to kRootCount, ids never reused (a handle names its key
// by id, so a deleted key's id must never come to name another); vals(key,
// folded, seq, name, type, data), seq giving the order values were first
// set; meta(name, value), the boot that last cleared the volatile keys.
// Names are blobs of their encoded units (EncodeUnits); folded names are
// the upper-cased units encoded alike, so that comparing the blobs bytewise
// orders them as the registry orders names.
#pragma once
#include <cstdint>
#include <string>

namespace qxplatform {
namespace internal {

// The four trees that exist; the other predefined handles have none here.
enum class RootId { kClassesRoot, kCurrentUser, kLocalMachine, kUsers };
constexpr int kRootCount = 4;

// The row of a root's key.
constexpr int64_t RootRowId(RootId id) { return static_cast<int64_t>(id) + 1; }

// The statements the store runs, prepared once per connection.
enum class Sql {
  kKeyFigures,
  kSharedSubkeys,
  kLoadKey,
  kFindSubkey,
  kAddSubkey,
  kTouchKey,
  kDeleteKey,
  kDeleteTreeValues,
  kTreeKeys,
  kFirstSubkey,
  kSubkeyAfter,
  kSubkeyAtOrAfter,
  kSubkeyAtOffset,
  kFindValue,
  kUpdateValue,
  kInsertValue,
  kDeleteValue,
  kValueAfter,
  kValueAtOrAfter,
  kValueAtOffset,
  kValuesInOrder,
  kSubkeysInOrder,
  kBeginRead,
  kBeginWrite,
  kCommit,
  kRollback,
  kDeleteVolatileValues,
  kDeleteVolatileKeys,
  kClearValues,
  kClearKeys,
  kTouchAllKeys,
  kReadBoot,
  kWriteBoot,
  kCount
};
const char* StatementText(Sql which);

// Marks a database as this registry's, so that another program's SQLite
// file is refused rather than written into.
constexpr int kApplicationId = 0x51584b52;  // "QXKR"
// 2: HKEY_CLASSES_ROOT is a view of the two classes trees, and root row 1
// stays empty (1 had a tree of its own there; registry_migration.h).
// 3: each key row keeps its children's counts and longest sizes.
constexpr int kSchemaVersion = 3;
constexpr int kSchemaVersionWithoutFigures = 2;

// The tables, their indexes, the marks and the root rows stamped with now,
// as one script of an empty database's first transaction. The machine's
// classes key (HKEY_LOCAL_MACHINE\SOFTWARE\Classes) is there from the
// start, as on Windows: HKEY_CLASSES_ROOT's root stands on it.
std::string SchemaScript(long long now);
// Brings a database of kSchemaVersionWithoutFigures to kSchemaVersion: the
// figures' columns (unless it has them, as a database that went back a
// version may), computed once for every key, and their triggers.
std::string FiguresUpgradeScript(bool addColumns);
// Makes the machine's classes key where it is missing.
std::string MachineClassesScript(long long now);

// The page cache a connection keeps, and the most an import raises it to,
// in KiB: bounded whatever the registry's size.
constexpr long long kUsualCacheKib = 16384;
constexpr long long kMaxImportCacheKib = 1 << 18;
// The connection's settings, the page cache of kUsualCacheKib among them.
std::string ConnectionSettings();
std::string CacheSizeSetting(long long kib);

}  // namespace internal
}  // namespace qxplatform
