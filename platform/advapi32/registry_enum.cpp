// Enumeration by index with a cursor per handle, and a key's counts.
#include "registry_enum.h"

namespace qxplatform {
namespace internal {
namespace {



// Whether the cursor still stands where it was left, and the version to
// leave it with.
bool CursorHolds(RegistryState& state, const EnumCursor& cursor,
                 unsigned* version) {
  bool known = state.db.DataVersion(version);
  return known && cursor.valid && cursor.dataVersion == *version &&
         cursor.writes == state.writes;
}

// Which step reaches index from the cursor: the row at the cursor again,
// the one after it, or a count from the start.
enum class Step { kAgain, kNext, kOffset };
Step StepTo(bool holds, const EnumCursor& cursor, DWORD index) {
  if (!holds) return Step::kOffset;
  if (index == cursor.index) return Step::kAgain;
  if (index == cursor.index + 1) return Step::kNext;
  return Step::kOffset;
}

}  // namespace

LSTATUS SubkeyAt(RegistryState& state, KeyId key, DWORD index,
                 EnumCursor* cursor, SubkeyEntry* entry) {
  unsigned version = 0;
  Step step = StepTo(CursorHolds(state, *cursor, &version), *cursor, index);
  Sql which = step == Step::kAgain  ? Sql::kSubkeyAtOrAfter
              : step == Step::kNext ? Sql::kSubkeyAfter
                                    : Sql::kSubkeyAtOffset;
  StatementUse use(state.db.Statement(which));
  if (!use) return StatusOfSqlite(sqlite3_errcode(state.db.get()));
  sqlite3_stmt* s = use.get();
  sqlite3_bind_int64(s, 1, key);
  if (step == Step::kOffset) {
    sqlite3_bind_int64(s, 2, index);
  } else {
    BindBlob(s, 2, cursor->folded.data(), cursor->folded.size());
  }
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) {
    cursor->valid = false;
    return ERROR_NO_MORE_ITEMS;
  }
  if (rc != SQLITE_ROW) return StatusOfSqlite(rc);
  entry->name = ColumnUnits(s, 1);
  entry->lastWrite = FileTimeOf(sqlite3_column_int64(s, 3));
  const auto* folded = static_cast<const char*>(sqlite3_column_blob(s, 2));
  cursor->folded.assign(folded != nullptr ? folded : "",
                        static_cast<size_t>(sqlite3_column_bytes(s, 2)));
  cursor->valid = true;
  cursor->dataVersion = version;
  cursor->writes = state.writes;
  cursor->index = index;
  return ERROR_SUCCESS;
}

LSTATUS ValueAt(RegistryState& state, KeyId key, DWORD index,
                EnumCursor* cursor, RegValue* value) {
  unsigned version = 0;
  Step step = StepTo(CursorHolds(state, *cursor, &version), *cursor, index);
  Sql which = step == Step::kAgain  ? Sql::kValueAtOrAfter
              : step == Step::kNext ? Sql::kValueAfter
                                    : Sql::kValueAtOffset;
  StatementUse use(state.db.Statement(which));
  if (!use) return StatusOfSqlite(sqlite3_errcode(state.db.get()));
  sqlite3_stmt* s = use.get();
  sqlite3_bind_int64(s, 1, key);
  sqlite3_bind_int64(s, 2, step == Step::kOffset ? index : cursor->seq);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) {
    cursor->valid = false;
    return ERROR_NO_MORE_ITEMS;
  }
  if (rc != SQLITE_ROW) return StatusOfSqlite(rc);
  value->name = ColumnUnits(s, 1);
  value->type = static_cast<DWORD>(sqlite3_column_int64(s, 2));
  const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(s, 3));
  size_t size = static_cast<size_t>(sqlite3_column_bytes(s, 3));
  value->data.assign(data, data + (data != nullptr ? size : 0));
  cursor->seq = sqlite3_column_int64(s, 0);
  cursor->valid = true;
  cursor->dataVersion = version;
  cursor->writes = state.writes;
  cursor->index = index;
  return ERROR_SUCCESS;
}

LSTATUS CountKey(RegistryDb& db, KeyId key, KeyCounts* counts) {
  {
    StatementUse use(db.Statement(Sql::kSubkeyNames));
    if (!use) return StatusOfSqlite(sqlite3_errcode(db.get()));
    sqlite3_bind_int64(use.get(), 1, key);
    int rc;
    while ((rc = sqlite3_step(use.get())) == SQLITE_ROW) {
      ++counts->subkeys;
      DWORD length = static_cast<DWORD>(ColumnAnsiLength(use.get(), 0));
      if (length > counts->longestSubkeyName)
        counts->longestSubkeyName = length;
    }
    if (rc != SQLITE_DONE) return StatusOfSqlite(rc);
  }
  StatementUse use(db.Statement(Sql::kValueSizes));
  if (!use) return StatusOfSqlite(sqlite3_errcode(db.get()));
  sqlite3_bind_int64(use.get(), 1, key);
  int rc;
  while ((rc = sqlite3_step(use.get())) == SQLITE_ROW) {
    ++counts->values;
    DWORD length = static_cast<DWORD>(ColumnAnsiLength(use.get(), 0));
    if (length > counts->longestValueName) counts->longestValueName = length;
    DWORD size = static_cast<DWORD>(sqlite3_column_int64(use.get(), 1));
    if (size > counts->longestData) counts->longestData = size;
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : StatusOfSqlite(rc);
}

}  // namespace internal
}  // namespace qxplatform
