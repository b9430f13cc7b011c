// Writing .reg text as regedit does: a section per key, values as quoted
// text, dword: or hex(type): bytes, long hex data continued over lines.
#include "registry_text.h"

#include <cstdio>
#include <vector>

namespace qxplatform {
namespace internal {
namespace {

constexpr char kNewline[] = "\r\n";
constexpr size_t kHexLineLimit = 77;

bool HasLineBreak(std::u16string_view text) {
  return text.find(u'\r') != std::u16string_view::npos ||
         text.find(u'\n') != std::u16string_view::npos;
}

// True when UTF-8 carries the text unchanged: no unpaired surrogate.
bool IsWellFormed(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
        return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// A name the writer can put back on one line as it was read: no line break
// and no unpaired surrogate. Import and save apply the same rule, so a
// registry that loads can always be saved.
// ---- writing -------------------------------------------------------------

bool IsAscii(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

// Appends text as UTF-8; ASCII, nearly every name, goes without a
// temporary.
void AppendUtf8(std::u16string_view text, std::string* out) {
  if (!IsAscii(text)) {
    *out += WideToUtf8(text);
    return;
  }
  for (char16_t c : text) out->push_back(static_cast<char>(c));
}

void AppendEscapedByte(char c, std::string* out) {
  if (c == '\\' || c == '"') out->push_back('\\');
  out->push_back(c);
}

// Appends text as UTF-8 with backslashes and quotes escaped.
void AppendEscaped(std::u16string_view text, std::string* out) {
  if (IsAscii(text)) {
    for (char16_t c : text) AppendEscapedByte(static_cast<char>(c), out);
    return;
  }
  for (char c : WideToUtf8(text)) AppendEscapedByte(c, out);
}

char16_t UnitAt(const uint8_t* data, size_t index) {
  return static_cast<char16_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

// A REG_SZ that reads back identically from "quoted" form: one terminating
// zero, no other zero or control character, no unpaired surrogate. *units
// gets the length before the zero, *ascii whether all of it is ASCII.
bool FitsQuotedForm(const StoredValue& value, size_t* units, bool* ascii) {
  if (value.Type() != REG_SZ || value.Size() < 2 || value.Size() % 2 != 0)
    return false;
  const uint8_t* data = value.Data();
  size_t count = value.Size() / 2 - 1;
  if (UnitAt(data, count) != u'\0') return false;
  *units = count;
  *ascii = true;
  for (size_t i = 0; i < count; ++i) {
    char16_t c = UnitAt(data, i);
    if (c < 0x20) return false;
    if (c < 0x80) continue;
    *ascii = false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= count) return false;
      char16_t next = UnitAt(data, i + 1);
      if (next < 0xDC00 || next > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

void AppendQuoted(const StoredValue& value, size_t units, bool ascii,
                  std::string* out) {
  const uint8_t* data = value.Data();
  out->push_back('"');
  if (ascii) {
    for (size_t i = 0; i < units; ++i)
      AppendEscapedByte(static_cast<char>(data[2 * i]), out);
  } else {
    std::u16string text(units, u'\0');
    for (size_t i = 0; i < units; ++i) text[i] = UnitAt(data, i);
    AppendEscaped(text, out);
  }
  out->push_back('"');
  *out += kNewline;
}

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendHexByte(uint8_t byte, std::string* out) {
  out->push_back(kHexDigits[byte >> 4]);
  out->push_back(kHexDigits[byte & 0xF]);
}

// The line began at lineStart in *out; lines are broken with a backslash
// before they grow past kHexLineLimit.
void AppendHex(const StoredValue& value, size_t lineStart, std::string* out) {
  if (value.Type() == REG_BINARY) {
    *out += "hex:";
  } else {
    char prefix[24];
    std::snprintf(prefix, sizeof(prefix),
                  "hex(%x):", static_cast<unsigned>(value.Type()));
    *out += prefix;
  }
  const uint8_t* data = value.Data();
  for (size_t i = 0; i < value.Size(); ++i) {
    if (out->size() - lineStart + 3 > kHexLineLimit) {
      out->push_back('\\');
      *out += kNewline;
      lineStart = out->size();
      *out += "  ";
    }
    AppendHexByte(data[i], out);
    if (i + 1 != value.Size()) out->push_back(',');
  }
  *out += kNewline;
}

void AppendValue(const StoredValue& value, std::string* out) {
  size_t lineStart = out->size();
  if (value.Name().empty()) {
    *out += "@=";
  } else {
    out->push_back('"');
    AppendEscaped(value.Name(), out);
    *out += "\"=";
  }
  size_t units = 0;
  bool ascii = false;
  if (FitsQuotedForm(value, &units, &ascii)) {
    AppendQuoted(value, units, ascii, out);
  } else if (value.Type() == REG_DWORD && value.Size() == 4) {
    *out += "dword:";
    for (int i = 3; i >= 0; --i) AppendHexByte(value.Data()[i], out);
    *out += kNewline;
  } else {
    AppendHex(value, lineStart, out);
  }
}


bool DatabaseFailed(RegistryDb& db, int rc, std::string* error) {
  *error = std::string("cannot read the registry: ") +
           (rc == SQLITE_OK ? "out of memory" : sqlite3_errmsg(db.get()));
  return false;
}

// A key's own section: its path, then its values in the order they were
// first set.
bool AppendSection(RegistryDb& db, KeyId key, const std::string& path,
                   TextOut& text, std::string* error) {
  std::string* out = text.buffer();
  out->push_back('[');
  *out += path;
  out->push_back(']');
  *out += kNewline;
  StatementUse use(db, Sql::kValuesInOrder);
  if (!use) return DatabaseFailed(db, sqlite3_errcode(db.get()), error);
  sqlite3_bind_int64(use.get(), 1, key);
  int rc;
  while ((rc = sqlite3_step(use.get())) == SQLITE_ROW) {
    sqlite3_stmt* s = use.get();
    const std::u16string name = ColumnUnits(s, 0);
    StoredValue value(name,
                      static_cast<DWORD>(sqlite3_column_int64(s, 1)),
                      static_cast<const uint8_t*>(sqlite3_column_blob(s, 2)),
                      static_cast<size_t>(sqlite3_column_bytes(s, 2)));
    if (!IsWritableName(value.Name())) {
      *error = "key " + path + ": a value name cannot be written";
      return false;
    }
    AppendValue(value, out);
  }
  if (rc != SQLITE_DONE) return DatabaseFailed(db, rc, error);
  *out += kNewline;
  return text.Pass(/*whole=*/false, error);
}

// A key to write: one stored key (trees[1] 0), or a key of the classes
// view, the user's (trees[0]) and the machine's (trees[1]) of one path,
// shown is the one whose values the view shows (0: none).
struct SectionKeys {
  KeyId shown = 0;
  KeyId trees[2] = {0, 0};
};

struct Child {
  SectionKeys keys;
  std::u16string name;
};

// Reads the subkeys of one tree's key, in name order, into the tree's
// place (which) of children, merged by name with those there already.
bool ReadChildren(RegistryDb& db, KeyId key, int which,
                  std::vector<Child>* children, std::string* error) {
  const size_t before = children->size();
  std::vector<Child> merged;
  size_t other = 0;
  StatementUse use(db, Sql::kSubkeysInOrder);
  if (!use) return DatabaseFailed(db, sqlite3_errcode(db.get()), error);
  sqlite3_bind_int64(use.get(), 1, key);
  int rc;
  while ((rc = sqlite3_step(use.get())) == SQLITE_ROW) {
    Child child;
    child.keys.trees[which] = sqlite3_column_int64(use.get(), 0);
    child.name = ColumnUnits(use.get(), 1);
    if (before == 0) {
      child.keys.shown = child.keys.trees[which];
      children->push_back(std::move(child));
      continue;
    }
    // Merging the machine's subkeys into the user's: a user's key of the
    // same name is the one shown.
    while (other < before &&
           CompareNames((*children)[other].name, child.name) < 0)
      merged.push_back(std::move((*children)[other++]));
    if (other < before && NamesEqual((*children)[other].name, child.name)) {
      (*children)[other].keys.trees[which] = child.keys.trees[which];
      merged.push_back(std::move((*children)[other++]));
      continue;
    }
    child.keys.shown = child.keys.trees[which];
    merged.push_back(std::move(child));
  }
  if (rc != SQLITE_DONE) return DatabaseFailed(db, rc, error);
  if (before == 0) return true;
  while (other < before) merged.push_back(std::move((*children)[other++]));
  *children = std::move(merged);
  return true;
}

// Writes a key's sections; *path holds its path in UTF-8 and grows and
// shrinks by a level as the walk goes down and back up. A key's subkeys are
// read whole before the walk goes into them, as one statement cannot serve
// two levels at once.
bool AppendSections(RegistryDb& db, const SectionKeys& key, std::string* path,
                    bool writeSelf, TextOut& out, std::string* error) {
  if (writeSelf && !AppendSection(db, key.shown, *path, out, error))
    return false;
  std::vector<Child> children;
  for (int which = 0; which < 2; ++which) {
    if (key.trees[which] != 0 &&
        !ReadChildren(db, key.trees[which], which, &children, error))
      return false;
  }
  size_t length = path->size();
  for (const Child& child : children) {
    if (!IsWritableName(child.name)) {
      *error = "key " + *path + ": the name of a subkey cannot be written";
      return false;
    }
    path->push_back('\\');
    AppendUtf8(child.name, path);
    bool written = AppendSections(db, child.keys, path, /*writeSelf=*/true,
                                  out, error);
    path->resize(length);
    if (!written) return false;
  }
  return true;
}

}  // namespace

bool IsWritableName(std::u16string_view name) {
  // Nearly every name is plain text below the surrogates and line breaks.
  for (char16_t c : name) {
    if (c < 0xD800 ? c == u'\r' || c == u'\n' : c <= 0xDFFF)
      return !HasLineBreak(name) && IsWellFormed(name);
  }
  return true;
}

std::string RegTextHeader() {
  return std::string(kRegTextHeader) + kNewline + kNewline;
}

bool AppendKeySections(RegistryDb& db, KeyId key, const std::u16string& path,
                       bool writeSelf, TextOut& out, std::string* error) {
  std::string utf8Path = WideToUtf8(path);
  utf8Path.reserve(utf8Path.size() + 1024);
  SectionKeys keys;
  keys.shown = key;
  keys.trees[0] = key;
  return AppendSections(db, keys, &utf8Path, writeSelf, out, error);
}

bool AppendViewSections(RegistryDb& db, const ViewKey& key,
                        const std::u16string& path, TextOut& out,
                        std::string* error) {
  std::string utf8Path = WideToUtf8(path);
  utf8Path.reserve(utf8Path.size() + 1024);
  SectionKeys keys;
  keys.shown = key.Shown().id;
  keys.trees[0] = key.user.id;
  keys.trees[1] = key.machine.id;
  return AppendSections(db, keys, &utf8Path, /*writeSelf=*/true, out, error);
}

}  // namespace internal
}  // namespace qxplatform
