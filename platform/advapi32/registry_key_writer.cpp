// Inserting and deleting key rows, with the registry's invariants checked
// first.
#include "registry_key_writer.h"

#include "registry_view.h"

#include "registry_text.h"

namespace qxplatform {
namespace internal {
namespace {

bool IsKeyName(std::u16string_view name) {
  return !name.empty() && name.size() <= kMaxKeyNameLength &&
         name.find(u'\\') == std::u16string_view::npos &&
         IsWritableName(name);
}

}  // namespace

LSTATUS KeyWriter::CheckNames(const KeyLevels& levels) const {
  for (std::u16string_view level : levels) {
    if (!IsKeyName(level)) return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

LSTATUS KeyWriter::CheckNewKeys(const KeyInfo& parent, size_t count,
                                bool isVolatile) const {
  if (IsDenied(parent.id)) return ERROR_ACCESS_DENIED;
  if (parent.depth + count > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  if (parent.isVolatile && !isVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
  return ERROR_SUCCESS;
}

LSTATUS KeyWriter::AddSubkey(const KeyInfo& parent, std::u16string_view name,
                             bool isVolatile, KeyInfo* added,
                             bool touchParent) {
  if (!IsKeyName(name)) return ERROR_INVALID_PARAMETER;
  LSTATUS status = CheckNewKeys(parent, 1, isVolatile);
  if (status != ERROR_SUCCESS) return status;
  const FILETIME now = CurrentFileTime();
  {
    StatementUse use(m_db, Sql::kAddSubkey);
    if (!use) return use.Failure();
    sqlite3_stmt* s = use.get();
    const std::string folded = FoldedName(name);
    sqlite3_bind_int64(s, 1, parent.id);
    BindName(s, 2, name);
    BindFolded(s, 3, folded);
    sqlite3_bind_int(s, 4, parent.depth + 1);
    sqlite3_bind_int(s, 5, isVolatile ? 1 : 0);
    sqlite3_bind_int64(s, 6, FileTimeTicks(now));
    int rc = sqlite3_step(s);
    if ((rc & 0xFF) == SQLITE_CONSTRAINT) return ERROR_ALREADY_EXISTS;
    status = Finished(rc);
    if (status != ERROR_SUCCESS) return status;
  }
  added->id = sqlite3_last_insert_rowid(m_db.get());
  added->depth = static_cast<uint16_t>(parent.depth + 1);
  added->isVolatile = isVolatile;
  added->lastWrite = now;
  return touchParent ? TouchKey(m_db, parent.id) : ERROR_SUCCESS;
}

LSTATUS KeyWriter::CheckNoDeniedKeyIn(KeyId key) {
  if (m_denied.empty()) return ERROR_SUCCESS;
  StatementUse use(m_db, Sql::kTreeKeys);
  if (!use) return use.Failure();
  sqlite3_bind_int64(use.get(), 1, key);
  int rc;
  while ((rc = sqlite3_step(use.get())) == SQLITE_ROW) {
    if (IsDenied(sqlite3_column_int64(use.get(), 0)))
      return ERROR_ACCESS_DENIED;
  }
  return Finished(rc);
}

LSTATUS KeyWriter::DeleteTree(KeyId key) {
  LSTATUS status = CheckNoDeniedKeyIn(key);
  // The values first: their keys' rows are what finds them.
  if (status == ERROR_SUCCESS) status = RunFor(Sql::kDeleteTreeValues, key);
  if (status == ERROR_SUCCESS) status = RunFor(Sql::kDeleteKey, key);
  return status;
}

LSTATUS KeyWriter::DeleteVolatileTrees() {
  LSTATUS status = Run(Sql::kDeleteVolatileValues);
  return status == ERROR_SUCCESS ? Run(Sql::kDeleteVolatileKeys) : status;
}

LSTATUS KeyWriter::DeleteAll() {
  LSTATUS status = Run(Sql::kClearValues);
  if (status == ERROR_SUCCESS) status = Run(Sql::kClearKeys);
  KeyInfo software;
  KeyInfo classes;
  if (status == ERROR_SUCCESS)
    status = AddSubkey(RootKey(RootId::kLocalMachine), kMachineSoftwareLevel,
                       /*isVolatile=*/false, &software);
  if (status == ERROR_SUCCESS)
    status = AddSubkey(software, kClassesLevel, /*isVolatile=*/false, &classes);
  if (status == ERROR_SUCCESS)
    status = RunFor(Sql::kTouchAllKeys, FileTimeTicks(CurrentFileTime()));
  return status;
}

LSTATUS KeyWriter::Run(Sql which) {
  StatementUse use(m_db, which);
  if (!use) return use.Failure();
  return Finished(sqlite3_step(use.get()));
}

LSTATUS KeyWriter::RunFor(Sql which, int64_t parameter) {
  StatementUse use(m_db, which);
  if (!use) return use.Failure();
  sqlite3_bind_int64(use.get(), 1, parameter);
  return Finished(sqlite3_step(use.get()));
}

}  // namespace internal
}  // namespace qxplatform
