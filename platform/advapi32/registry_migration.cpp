// Moving an earlier database's own HKEY_CLASSES_ROOT tree into the
// machine's classes.
#include "registry_migration.h"

#include <string>
#include <vector>

#include "registry_key_writer.h"
#include "registry_view.h"

namespace qxplatform {
namespace internal {
namespace {

struct OldKey {
  KeyId id;
  std::u16string name;
};

LSTATUS ReadChildren(RegistryDb& db, KeyId key, std::vector<OldKey>* out) {
  StatementUse use(db, Sql::kSubkeysInOrder);
  if (!use) return use.Failure();
  sqlite3_bind_int64(use.get(), 1, key);
  int rc;
  while ((rc = sqlite3_step(use.get())) == SQLITE_ROW)
    out->push_back(OldKey{sqlite3_column_int64(use.get(), 0),
                          ColumnUnits(use.get(), 1)});
  return Finished(rc);
}

// Runs one statement of the migration's own with two integer parameters.
LSTATUS RunOnce(RegistryDb& db, const char* sql, int64_t first,
                int64_t second) {
  UniqueStatement statement;
  int rc = sqlite3_prepare_v2(db.get(), sql, -1, statement.put(), nullptr);
  if (rc != SQLITE_OK) return StatusOfSqlite(rc);
  sqlite3_bind_int64(statement.get(), 1, first);
  sqlite3_bind_int64(statement.get(), 2, second);
  return Finished(sqlite3_step(statement.get()));
}

// Moves a key with its tree below `to`: its row takes the new parent, and
// every key of the tree the depth it now has.
LSTATUS MoveTree(RegistryDb& db, const OldKey& key, const KeyInfo& to) {
  KeyInfo info;
  LSTATUS status = LoadKey(db, key.id, &info);
  if (status != ERROR_SUCCESS) return status;
  status = RunOnce(db, "UPDATE keys SET parent = ?2 WHERE id = ?1", key.id,
                   to.id);
  if (status != ERROR_SUCCESS) return status;
  const int64_t deeper = static_cast<int64_t>(to.depth) + 1 - info.depth;
  return RunOnce(db,
                 "UPDATE keys SET depth = depth + ?2 WHERE id IN ("
                 "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT "
                 "keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
                 "SELECT id FROM tree)",
                 key.id, deeper);
}

// Gives `to` the values of `from` whose names it lacks, in from's order.
LSTATUS AddMissingValues(RegistryDb& db, KeyId from, KeyId to) {
  std::vector<RegValue> values;
  {
    StatementUse use(db, Sql::kValuesInOrder);
    if (!use) return use.Failure();
    sqlite3_bind_int64(use.get(), 1, from);
    int rc;
    while ((rc = sqlite3_step(use.get())) == SQLITE_ROW) {
      values.emplace_back();
      ColumnValue(use.get(), 0, &values.back());
    }
    LSTATUS status = Finished(rc);
    if (status != ERROR_SUCCESS) return status;
  }
  for (const RegValue& value : values) {
    RegValue existing;
    LSTATUS status = ReadValue(db, to, value.name, &existing);
    if (status == ERROR_SUCCESS) continue;  // the machine's stays
    if (status != ERROR_FILE_NOT_FOUND) return status;
    status = SetValue(db, to, value.name, value.type, value.data.data(),
                      value.data.size());
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

// Merges the subkeys of the old key `from` into `to`.
LSTATUS MergeChildren(RegistryDb& db, KeyWriter& keys, KeyId from,
                      const KeyInfo& to) {
  std::vector<OldKey> children;
  LSTATUS status = ReadChildren(db, from, &children);
  for (size_t i = 0; status == ERROR_SUCCESS && i < children.size(); ++i) {
    const OldKey& child = children[i];
    KeyInfo existing;
    status = FindSubkey(db, to, child.name, &existing);
    if (status == ERROR_FILE_NOT_FOUND) {
      status = MoveTree(db, child, to);
      continue;
    }
    if (status == ERROR_SUCCESS)
      status = AddMissingValues(db, child.id, existing.id);
    if (status == ERROR_SUCCESS)
      status = MergeChildren(db, keys, child.id, existing);
    // What is left of it are values the machine's key had already.
    if (status == ERROR_SUCCESS) status = keys.DeleteTree(child.id);
  }
  return status;
}

// The key of name below parent, made when missing.
LSTATUS FindOrAdd(RegistryDb& db, KeyWriter& keys, const KeyInfo& parent,
                  std::u16string_view name, KeyInfo* key) {
  LSTATUS status = FindSubkey(db, parent, name, key);
  if (status != ERROR_FILE_NOT_FOUND) return status;
  return keys.AddSubkey(parent, name, /*isVolatile=*/false, key);
}

}  // namespace

LSTATUS MoveClassesTreeToMachine(RegistryDb& db) {
  const KeyId oldRoot = RootRowId(RootId::kClassesRoot);
  std::vector<OldKey> children;
  LSTATUS status = ReadChildren(db, oldRoot, &children);
  bool hasValues = false;
  {
    StatementUse use(db, Sql::kValuesInOrder);
    if (!use) return use.Failure();
    sqlite3_bind_int64(use.get(), 1, oldRoot);
    int rc = sqlite3_step(use.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return StatusOfSqlite(rc);
    hasValues = rc == SQLITE_ROW;
  }
  if (status != ERROR_SUCCESS) return status;
  const DeniedKeys none;
  KeyWriter keys(db, none);
  KeyInfo software;
  KeyInfo classes;
  status = FindOrAdd(db, keys, RootKey(RootId::kLocalMachine),
                     kMachineSoftwareLevel, &software);
  if (status == ERROR_SUCCESS)
    status = FindOrAdd(db, keys, software, kClassesLevel, &classes);
  if (status != ERROR_SUCCESS || (children.empty() && !hasValues))
    return status;
  if (status == ERROR_SUCCESS)
    status = AddMissingValues(db, oldRoot, classes.id);
  if (status == ERROR_SUCCESS)
    status = MergeChildren(db, keys, oldRoot, classes);
  if (status == ERROR_SUCCESS)
    status = RunOnce(db, "DELETE FROM vals WHERE key = ?1 AND ?2 = ?2",
                     oldRoot, 0);
  return status;
}

}  // namespace internal
}  // namespace qxplatform
