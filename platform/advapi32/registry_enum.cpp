// Enumeration by index with a cursor per handle, and a key's counts.
#include "registry_enum.h"

#include <algorithm>

namespace qxplatform {
namespace internal {
namespace {

// Whether the cursor still stands where it was left, and the version to
// leave it with.
bool CursorHolds(RegistryReader& door, const EnumCursor& cursor,
                 unsigned* version) {
  bool known = door.db().DataVersion(version);
  return known && cursor.valid && cursor.dataVersion == *version &&
         cursor.writes == door.writes();
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

// The statements of one kind of enumeration, one for each step.
struct EnumStatements {
  Sql again;
  Sql next;
  Sql offset;
};
constexpr EnumStatements kSubkeySteps{Sql::kSubkeyAtOrAfter, Sql::kSubkeyAfter,
                                      Sql::kSubkeyAtOffset};
constexpr EnumStatements kValueSteps{Sql::kValueAtOrAfter, Sql::kValueAfter,
                                     Sql::kValueAtOffset};

// Moves the cursor to index: runs the step's statement for key, with the
// index to count to or the cursor's place (bindPlace binds it as the second
// parameter), and lets takeRow read the row found and remember its place.
template <typename BindPlace, typename TakeRow>
LSTATUS MoveCursor(RegistryReader& door, KeyId key, DWORD index,
                   EnumCursor* cursor, const EnumStatements& statements,
                   BindPlace bindPlace, TakeRow takeRow) {
  unsigned version = 0;
  Step step = StepTo(CursorHolds(door, *cursor, &version), *cursor, index);
  StatementUse use(door.db(), step == Step::kAgain  ? statements.again
                              : step == Step::kNext ? statements.next
                                                    : statements.offset);
  if (!use) return use.Failure();
  sqlite3_stmt* s = use.get();
  sqlite3_bind_int64(s, 1, key);
  if (step == Step::kOffset) {
    sqlite3_bind_int64(s, 2, index);
  } else {
    bindPlace(s);
  }
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) {
    cursor->valid = false;
    return ERROR_NO_MORE_ITEMS;
  }
  if (rc != SQLITE_ROW) return StatusOfSqlite(rc);
  takeRow(s);
  cursor->valid = true;
  cursor->dataVersion = version;
  cursor->writes = door.writes();
  cursor->index = index;
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS SubkeyAt(RegistryReader& door, KeyId key, DWORD index,
                 EnumCursor* cursor, SubkeyEntry* entry) {
  return MoveCursor(
      door, key, index, cursor, kSubkeySteps,
      [&](sqlite3_stmt* s) {
        BindBlob(s, 2, cursor->folded.data(), cursor->folded.size());
      },
      [&](sqlite3_stmt* s) {
        entry->name = ColumnUnits(s, 1);
        entry->lastWrite = FileTimeOf(sqlite3_column_int64(s, 3));
        const auto* folded =
            static_cast<const char*>(sqlite3_column_blob(s, 2));
        cursor->folded.assign(folded != nullptr ? folded : "",
                              static_cast<size_t>(sqlite3_column_bytes(s, 2)));
      });
}

LSTATUS ValueAt(RegistryReader& door, KeyId key, DWORD index,
                EnumCursor* cursor, RegValue* value) {
  return MoveCursor(
      door, key, index, cursor, kValueSteps,
      [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 2, cursor->seq); },
      [&](sqlite3_stmt* s) {
        ColumnValue(s, 1, value);
        cursor->seq = sqlite3_column_int64(s, 0);
      });
}

namespace {

// The first subkey of key in name order after the folded name `after`
// (from the start when null; at it too when inclusive); *found false when
// there is none, as for a key that is missing (id 0).
struct MergeCandidate {
  bool found = false;
  std::string folded;
  SubkeyEntry entry;
};
LSTATUS SubkeyFrom(RegistryDb& db, KeyId key, const std::string* after,
                   bool inclusive, MergeCandidate* candidate) {
  candidate->found = false;
  if (key == 0) return ERROR_SUCCESS;
  StatementUse use(db, after == nullptr ? Sql::kFirstSubkey
                       : inclusive      ? Sql::kSubkeyAtOrAfter
                                        : Sql::kSubkeyAfter);
  if (!use) return use.Failure();
  sqlite3_stmt* s = use.get();
  sqlite3_bind_int64(s, 1, key);
  if (after != nullptr) BindBlob(s, 2, after->data(), after->size());
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return ERROR_SUCCESS;
  if (rc != SQLITE_ROW) return StatusOfSqlite(rc);
  candidate->found = true;
  candidate->entry.name = ColumnUnits(s, 1);
  candidate->entry.lastWrite = FileTimeOf(sqlite3_column_int64(s, 3));
  const auto* folded = static_cast<const char*>(sqlite3_column_blob(s, 2));
  candidate->folded.assign(folded != nullptr ? folded : "",
                           static_cast<size_t>(sqlite3_column_bytes(s, 2)));
  return ERROR_SUCCESS;
}

// The first subkey of the view after `after`: the lower of the two trees'
// next names, the user's on a tie.
LSTATUS MergedSubkeyFrom(RegistryDb& db, const ViewKey& key,
                         const std::string* after, bool inclusive,
                         MergeCandidate* next) {
  MergeCandidate user;
  MergeCandidate machine;
  LSTATUS status = SubkeyFrom(db, key.user.id, after, inclusive, &user);
  if (status == ERROR_SUCCESS)
    status = SubkeyFrom(db, key.machine.id, after, inclusive, &machine);
  if (status != ERROR_SUCCESS) return status;
  if (!user.found && !machine.found) return ERROR_NO_MORE_ITEMS;
  bool takeUser = user.found && (!machine.found || user.folded <= machine.folded);
  *next = std::move(takeUser ? user : machine);
  return ERROR_SUCCESS;
}

// The figures the key's row keeps; a missing key (id 0) has none.
LSTATUS ReadFigures(RegistryDb& db, KeyId key, KeyCounts* counts) {
  *counts = KeyCounts{};
  if (key == 0) return ERROR_SUCCESS;
  StatementUse use(db, Sql::kKeyFigures);
  if (!use) return use.Failure();
  sqlite3_stmt* s = use.get();
  sqlite3_bind_int64(s, 1, key);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return StatusOfSqlite(rc);
  auto figure = [s](int column) {
    return static_cast<DWORD>(sqlite3_column_int64(s, column));
  };
  counts->subkeys = figure(0);
  counts->longestSubkeyName = figure(1);
  counts->values = figure(2);
  counts->longestValueName = figure(3);
  counts->longestData = figure(4);
  return ERROR_SUCCESS;
}

// How many subkeys of the user's key the machine's has a namesake of.
LSTATUS CountShared(RegistryDb& db, const ViewKey& key, DWORD* shared) {
  *shared = 0;
  if (key.user.id == 0 || key.machine.id == 0) return ERROR_SUCCESS;
  StatementUse use(db, Sql::kSharedSubkeys);
  if (!use) return use.Failure();
  sqlite3_bind_int64(use.get(), 1, key.user.id);
  sqlite3_bind_int64(use.get(), 2, key.machine.id);
  int rc = sqlite3_step(use.get());
  if (rc != SQLITE_ROW) return StatusOfSqlite(rc);
  *shared = static_cast<DWORD>(sqlite3_column_int64(use.get(), 0));
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS CountKey(RegistryDb& db, KeyId key, KeyCounts* counts) {
  return ReadFigures(db, key, counts);
}

// The merged count is exact: the names the two trees share are counted
// once, found by walking the user's subkeys (a user's classes are few).
// The longest figures are the larger of the two trees', which may be a
// name the user's key hides: still enough for any buffer.
LSTATUS CountViewKey(RegistryDb& db, const ViewKey& key, KeyCounts* counts) {
  KeyCounts user;
  KeyCounts machine;
  DWORD shared = 0;
  LSTATUS status = ReadFigures(db, key.user.id, &user);
  if (status == ERROR_SUCCESS) status = ReadFigures(db, key.machine.id, &machine);
  if (status == ERROR_SUCCESS) status = CountShared(db, key, &shared);
  if (status != ERROR_SUCCESS) return status;
  const KeyCounts& shown =
      key.Tree() == RootId::kCurrentUser ? user : machine;
  counts->subkeys = user.subkeys + machine.subkeys - shared;
  counts->longestSubkeyName =
      std::max(user.longestSubkeyName, machine.longestSubkeyName);
  counts->values = shown.values;
  counts->longestValueName = shown.longestValueName;
  counts->longestData = shown.longestData;
  return ERROR_SUCCESS;
}

LSTATUS ViewSubkeyAt(RegistryReader& door, const ViewKey& key, DWORD index,
                     EnumCursor* cursor, SubkeyEntry* entry) {
  unsigned version = 0;
  const Step step =
      StepTo(CursorHolds(door, *cursor, &version), *cursor, index);
  MergeCandidate next;
  LSTATUS status = ERROR_SUCCESS;
  if (step == Step::kOffset) {
    // A count from the start: one step of each tree's index per entry.
    status = MergedSubkeyFrom(door.db(), key, nullptr, false, &next);
    for (DWORD i = 0; status == ERROR_SUCCESS && i < index; ++i) {
      const std::string after = next.folded;
      status = MergedSubkeyFrom(door.db(), key, &after, false, &next);
    }
  } else {
    status = MergedSubkeyFrom(door.db(), key, &cursor->folded,
                              step == Step::kAgain, &next);
  }
  if (status != ERROR_SUCCESS) {
    cursor->valid = false;
    return status;
  }
  *entry = std::move(next.entry);
  cursor->folded = std::move(next.folded);
  cursor->valid = true;
  cursor->dataVersion = version;
  cursor->writes = door.writes();
  cursor->index = index;
  return ERROR_SUCCESS;
}

}  // namespace internal
}  // namespace qxplatform
