// Keys and values as rows of the registry's database, and the names they
// go by: folding, comparison and path splitting. Everything here runs
// inside a transaction one of the store's doors holds.
#include "registry_rows.h"

#include <algorithm>
#include <cstring>

namespace qxplatform {
namespace internal {

const RootInfo kRoots[kRootCount] = {
    {RootId::kClassesRoot, HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
    {RootId::kCurrentUser, HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {RootId::kLocalMachine, HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
    {RootId::kUsers, HKEY_USERS, "HKEY_USERS", "HKU"},
};

namespace {

// Lower-case ranges that map to upper case by a fixed offset.
struct CaseRange {
  char16_t first;
  char16_t last;
  int offset;
};
constexpr CaseRange kOffsetRanges[] = {
    {u'a', u'z', -0x20},     {0x00E0, 0x00F6, -0x20}, {0x00F8, 0x00FE, -0x20},
    {0x03AD, 0x03AF, -0x25}, {0x03B1, 0x03C1, -0x20}, {0x03C3, 0x03CB, -0x20},
    {0x03CD, 0x03CE, -0x3F}, {0x0430, 0x044F, -0x20}, {0x0450, 0x045F, -0x50},
    {0x0561, 0x0586, -0x30}, {0x2170, 0x217F, -0x10}, {0x24D0, 0x24E9, -0x1A},
    {0xFF41, 0xFF5A, -0x20},
};

// Ranges of alternating upper/lower pairs; lowerIsOdd tells which of each
// pair is the lower-case letter.
struct PairRange {
  char16_t first;
  char16_t last;
  bool lowerIsOdd;
};
constexpr PairRange kPairRanges[] = {
    {0x0100, 0x0137, true},  {0x0139, 0x0148, false}, {0x014A, 0x0177, true},
    {0x0179, 0x017E, false}, {0x0460, 0x0481, true},  {0x048A, 0x04BF, true},
    {0x04C1, 0x04CE, false}, {0x04D0, 0x052F, true},
};

struct CaseSingle {
  char16_t lower;
  char16_t upper;
};
constexpr CaseSingle kSingles[] = {
    {0x00FF, 0x0178}, {0x03AC, 0x0386}, {0x03C2, 0x03A3}, {0x03CC, 0x038C}};

bool EqualsIgnoreAsciiCase(std::u16string_view text, const char* ascii) {
  size_t i = 0;
  for (; ascii[i] != '\0'; ++i) {
    if (i >= text.size()) return false;
    char16_t a = text[i];
    char16_t b = static_cast<unsigned char>(ascii[i]);
    if (a >= u'a' && a <= u'z') a -= 0x20;
    if (b >= u'a' && b <= u'z') b -= 0x20;
    if (a != b) return false;
  }
  return i == text.size();
}

// Names are mostly ASCII: fold those without the tables.
inline char16_t FoldUnit(char16_t c) {
  if (c < 0x80)
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
  return UpcaseChar(c);
}

}  // namespace

int CompareNames(std::u16string_view a, std::u16string_view b) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    char16_t x = FoldUnit(a[i]);
    char16_t y = FoldUnit(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNames(a, b) == 0;
}

void KeyLevels::push_back(std::u16string_view level) {
  if (m_spill.empty() && m_size < kInlineLevels) {
    m_inline[m_size++] = level;
    return;
  }
  if (m_spill.empty()) m_spill.assign(m_inline, m_inline + m_size);
  m_spill.resize(m_size);
  m_spill.push_back(level);
  ++m_size;
}


char16_t UpcaseChar(char16_t c) {
  if (c < u'a') return c;
  for (const CaseRange& range : kOffsetRanges) {
    if (c >= range.first && c <= range.last)
      return static_cast<char16_t>(c + range.offset);
  }
  for (const PairRange& range : kPairRanges) {
    if (c >= range.first && c <= range.last) {
      bool odd = (c & 1) != 0;
      return odd == range.lowerIsOdd ? static_cast<char16_t>(c - 1) : c;
    }
  }
  for (const CaseSingle& single : kSingles) {
    if (c == single.lower) return single.upper;
  }
  return c;
}

const RootInfo* FindRootByHandle(HKEY key) {
  for (const RootInfo& root : kRoots) {
    if (root.handle == key) return &root;
  }
  return nullptr;
}

const RootInfo* FindRootByName(std::u16string_view name) {
  for (const RootInfo& root : kRoots) {
    if (EqualsIgnoreAsciiCase(name, root.longName) ||
        EqualsIgnoreAsciiCase(name, root.shortName))
      return &root;
  }
  return nullptr;
}

LSTATUS SplitKeyPath(std::u16string_view path, KeyLevels* levels) {
  levels->clear();
  if (path.empty()) return ERROR_SUCCESS;
  if (path.front() == u'\\') return kErrorBadPathname;
  if (path.back() == u'\\') path.remove_suffix(1);
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    std::u16string_view level = path.substr(start, end - start);
    if (level.empty()) return kErrorBadPathname;
    if (level.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    if (levels->size() == kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    levels->push_back(level);
    start = end + 1;
  }
  return ERROR_SUCCESS;
}


std::string FoldedName(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) c = FoldUnit(c);
  return EncodeUnits(folded);
}

int BindName(sqlite3_stmt* statement, int index, std::u16string_view name) {
  const std::string encoded = EncodeUnits(name);
  return sqlite3_bind_blob64(statement, index, encoded.data(), encoded.size(),
                             SQLITE_TRANSIENT);
}

int BindFolded(sqlite3_stmt* statement, int index, const std::string& folded) {
  return BindBlob(statement, index, folded.data(), folded.size());
}

KeyInfo RootKey(RootId id) {
  KeyInfo key;
  key.id = RootRowId(id);
  return key;
}

LSTATUS LoadKey(RegistryDb& db, KeyId id, KeyInfo* key) {
  StatementUse use(db, Sql::kLoadKey);
  if (!use) return use.Failure();
  sqlite3_stmt* s = use.get();
  sqlite3_bind_int64(s, 1, id);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return StatusOfSqlite(rc);
  key->id = id;
  key->depth = static_cast<uint16_t>(sqlite3_column_int(s, 0));
  key->isVolatile = sqlite3_column_int(s, 1) != 0;
  key->lastWrite = FileTimeOf(sqlite3_column_int64(s, 2));
  return ERROR_SUCCESS;
}

LSTATUS FindSubkey(RegistryDb& db, const KeyInfo& parent,
                   std::u16string_view name, KeyInfo* found,
                   std::u16string* storedName) {
  StatementUse use(db, Sql::kFindSubkey);
  if (!use) return use.Failure();
  sqlite3_stmt* s = use.get();
  const std::string folded = FoldedName(name);
  sqlite3_bind_int64(s, 1, parent.id);
  BindFolded(s, 2, folded);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return StatusOfSqlite(rc);
  found->id = sqlite3_column_int64(s, 0);
  found->depth = static_cast<uint16_t>(sqlite3_column_int(s, 1));
  found->isVolatile = sqlite3_column_int(s, 2) != 0;
  found->lastWrite = FileTimeOf(sqlite3_column_int64(s, 3));
  if (storedName != nullptr) *storedName = ColumnUnits(s, 4);
  return ERROR_SUCCESS;
}

LSTATUS FindExisting(RegistryDb& db, const KeyInfo& from,
                     const KeyLevels& levels, KeyInfo* deepest,
                     size_t* found) {
  KeyInfo key = from;
  size_t level = 0;
  for (; level < levels.size(); ++level) {
    KeyInfo next;
    LSTATUS status = FindSubkey(db, key, levels[level], &next);
    if (status == ERROR_FILE_NOT_FOUND) break;
    if (status != ERROR_SUCCESS) return status;
    key = next;
  }
  *deepest = key;
  *found = level;
  return ERROR_SUCCESS;
}

LSTATUS FindPath(RegistryDb& db, const KeyInfo& from, const KeyLevels& levels,
                 KeyInfo* found) {
  size_t existing = 0;
  LSTATUS status = FindExisting(db, from, levels, found, &existing);
  if (status != ERROR_SUCCESS) return status;
  return existing == levels.size() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS TouchKey(RegistryDb& db, KeyId id) {
  StatementUse use(db, Sql::kTouchKey);
  if (!use) return use.Failure();
  sqlite3_bind_int64(use.get(), 1, id);
  sqlite3_bind_int64(use.get(), 2, FileTimeTicks(CurrentFileTime()));
  return Finished(sqlite3_step(use.get()));
}

LSTATUS HasSubkeys(RegistryDb& db, KeyId id, bool* any) {
  StatementUse use(db, Sql::kFirstSubkey);
  if (!use) return use.Failure();
  sqlite3_bind_int64(use.get(), 1, id);
  int rc = sqlite3_step(use.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return StatusOfSqlite(rc);
  *any = rc == SQLITE_ROW;
  return ERROR_SUCCESS;
}

namespace {

// A value as the statements that write one take it.
struct ValueRow {
  KeyId key;
  const std::string& folded;
  std::u16string_view name;
  DWORD type;
  const uint8_t* data;
  size_t size;
  int64_t seq;  // 0: the next in the key's order
};

// Runs kUpdateValue or kInsertValue, whose parameters are numbered alike
// (?1 key, ?2 folded name, ?3 name, ?4 type, ?5 data, ?6 order number).
// The update takes no name or order number: binding a parameter a
// statement lacks is refused (SQLITE_RANGE) and changes nothing.
// ERROR_ALREADY_EXISTS when an insert finds the name taken.
LSTATUS WriteValueRow(RegistryDb& db, Sql which, const ValueRow& row) {
  StatementUse use(db, which);
  if (!use) return use.Failure();
  sqlite3_stmt* s = use.get();
  sqlite3_bind_int64(s, 1, row.key);
  BindFolded(s, 2, row.folded);
  BindName(s, 3, row.name);
  sqlite3_bind_int64(s, 4, row.type);
  BindBlob(s, 5, row.data, row.size);
  if (row.seq != 0) sqlite3_bind_int64(s, 6, row.seq);
  int rc = sqlite3_step(s);
  if ((rc & 0xFF) == SQLITE_CONSTRAINT) return ERROR_ALREADY_EXISTS;
  return Finished(rc);
}

}  // namespace

LSTATUS SetValue(RegistryDb& db, KeyId key, std::u16string_view name,
                 DWORD type, const uint8_t* data, size_t size) {
  const std::string folded = FoldedName(name);
  const ValueRow row{key, folded, name, type, data, size, /*seq=*/0};
  LSTATUS status = WriteValueRow(db, Sql::kUpdateValue, row);
  if (status == ERROR_SUCCESS && sqlite3_changes(db.get()) == 0)
    status = WriteValueRow(db, Sql::kInsertValue, row);
  return status == ERROR_SUCCESS ? TouchKey(db, key) : status;
}

LSTATUS InsertNewValue(RegistryDb& db, KeyId key, int64_t seq,
                       std::u16string_view name, DWORD type,
                       const uint8_t* data, size_t size) {
  const std::string folded = FoldedName(name);
  return WriteValueRow(db, Sql::kInsertValue,
                       ValueRow{key, folded, name, type, data, size, seq});
}

LSTATUS DeleteValue(RegistryDb& db, KeyId key, std::u16string_view name) {
  const std::string folded = FoldedName(name);
  {
    StatementUse use(db, Sql::kDeleteValue);
    if (!use) return use.Failure();
    sqlite3_bind_int64(use.get(), 1, key);
    BindFolded(use.get(), 2, folded);
    LSTATUS status = Finished(sqlite3_step(use.get()));
    if (status != ERROR_SUCCESS) return status;
  }
  if (sqlite3_changes(db.get()) == 0) return ERROR_FILE_NOT_FOUND;
  return TouchKey(db, key);
}

LSTATUS ReadValue(RegistryDb& db, KeyId key, std::u16string_view name,
                  RegValue* value) {
  StatementUse use(db, Sql::kFindValue);
  if (!use) return use.Failure();
  sqlite3_stmt* s = use.get();
  const std::string folded = FoldedName(name);
  sqlite3_bind_int64(s, 1, key);
  BindFolded(s, 2, folded);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return StatusOfSqlite(rc);
  ColumnValue(s, 0, value);
  return ERROR_SUCCESS;
}

void ColumnValue(sqlite3_stmt* statement, int first, RegValue* value) {
  value->name = ColumnUnits(statement, first);
  value->type = static_cast<DWORD>(sqlite3_column_int64(statement, first + 1));
  const auto* data =
      static_cast<const uint8_t*>(sqlite3_column_blob(statement, first + 2));
  size_t size =
      static_cast<size_t>(sqlite3_column_bytes(statement, first + 2));
  value->data.assign(data, data + (data != nullptr ? size : 0));
}

}  // namespace internal
}  // namespace qxplatform
