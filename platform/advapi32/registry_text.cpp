// The .reg text format as regedit writes and reads it: sections of keys,
// values as quoted text, dword: or hex(type): bytes, "[-key]" and "=-" for
// removal, ";" comments and "\" continuation lines.
#include "registry_text.h"

#include <cstdio>

namespace qxplatform {
namespace internal {
namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr char kNewline[] = "\r\n";
constexpr size_t kHexLineLimit = 77;

// Prefixes of value data, compared without regard to case.
constexpr char kDwordPrefix[] = "dword:";
constexpr char kHexPrefix[] = "hex";

std::string LineError(size_t line, const std::string& what) {
  return "line " + std::to_string(line) + ": " + what;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != prefix[i]) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hex digits and nothing else.
bool ParseHexNumber(std::string_view text, DWORD* number) {
  if (text.empty() || text.size() > 8) return false;
  DWORD result = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    result = (result << 4) | static_cast<DWORD>(digit);
  }
  *number = result;
  return true;
}

// The text as UTF-8: a UTF-16LE text with its BOM is converted, a UTF-8 BOM
// is dropped.
bool DecodeText(std::string_view bytes, std::string* text, std::string* error) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    *text = std::string(bytes.substr(3));
    return true;
  }
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") {
    *error = "UTF-16 big-endian text is not supported";
    return false;
  }
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
    if (bytes.size() % 2 != 0) {
      *error = "UTF-16 text with an odd number of bytes";
      return false;
    }
    std::u16string wide((bytes.size() - 2) / 2, u'\0');
    for (size_t i = 0; i < wide.size(); ++i) {
      auto low = static_cast<unsigned char>(bytes[2 + 2 * i]);
      auto high = static_cast<unsigned char>(bytes[3 + 2 * i]);
      wide[i] = static_cast<char16_t>(low | (high << 8));
    }
    *text = WideToUtf8(wide);
    return true;
  }
  *text = std::string(bytes);
  return true;
}

// Reads a quoted text at *pos (which holds the opening quote), undoing the
// \\ and \" escapes; any other backslash stays as it is.
bool ReadQuoted(std::string_view line, size_t* pos, std::string* text) {
  text->clear();
  size_t i = *pos + 1;
  while (i < line.size()) {
    char c = line[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < line.size() &&
        (line[i + 1] == '\\' || line[i + 1] == '"')) {
      text->push_back(line[i + 1]);
      i += 2;
      continue;
    }
    text->push_back(c);
    ++i;
  }
  return false;
}

bool ToWide(std::string_view utf8, std::u16string* wide) {
  bool valid = false;
  *wide = Utf8ToWide(utf8, &valid);
  return valid;
}

std::vector<uint8_t> WideBytes(const std::u16string& text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

bool ParseHexBytes(std::string_view list, std::vector<uint8_t>* bytes) {
  bytes->clear();
  list = Trim(list);
  if (list.empty()) return true;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view item = Trim(list.substr(start, end - start));
    bool last = end == list.size();
    if (item.empty() && last && start > 0) break;  // a trailing comma
    DWORD byte = 0;
    if (item.size() > 2 || !ParseHexNumber(item, &byte)) return false;
    bytes->push_back(static_cast<uint8_t>(byte));
    if (last) break;
    start = end + 1;
  }
  return true;
}

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
bool IsWritableName(std::u16string_view name) {
  return !HasLineBreak(name) && IsWellFormed(name);
}

// "[HKEY_...\path]" or "[-HKEY_...\path]"; line is trimmed.
bool ParseSection(std::string_view line, RegTextOp* op, std::string* what) {
  size_t close = line.rfind(']');
  if (close != line.size() - 1) {
    *what = "a key section must end with ]";
    return false;
  }
  std::string_view inner = line.substr(1, close - 1);
  op->kind = RegTextOp::Kind::kOpenKey;
  if (!inner.empty() && inner.front() == '-') {
    op->kind = RegTextOp::Kind::kDeleteKey;
    inner.remove_prefix(1);
  }
  std::u16string path;
  if (!ToWide(inner, &path)) {
    *what = "the key name is not valid UTF-8";
    return false;
  }
  size_t split = path.find(u'\\');
  std::u16string_view rootName(path);
  std::u16string_view rest;
  if (split != std::u16string::npos) {
    rootName = std::u16string_view(path).substr(0, split);
    rest = std::u16string_view(path).substr(split + 1);
  }
  const RootInfo* root = FindRootByName(rootName);
  if (root == nullptr) {
    *what = "unknown root key";
    return false;
  }
  if (!IsWritableName(rest)) {
    *what = "a key name holds a line break or an unpaired surrogate";
    return false;
  }
  op->root = root->id;
  LSTATUS status = SplitKeyPath(rest, &op->levels);
  if (status == ERROR_INVALID_PARAMETER) {
    *what =
        "a key name is longer than 255 characters or the path deeper "
        "than 512 levels";
    return false;
  }
  if (status != ERROR_SUCCESS) {
    *what = "malformed key path";
    return false;
  }
  if (op->kind == RegTextOp::Kind::kDeleteKey && op->levels.empty()) {
    *what = "a root key cannot be deleted";
    return false;
  }
  return true;
}

bool ParseValueData(std::string_view data, RegValue* value, std::string* what) {
  if (!data.empty() && data.front() == '"') {
    size_t pos = 0;
    std::string text;
    if (!ReadQuoted(data, &pos, &text) || !Trim(data.substr(pos)).empty()) {
      *what = "malformed quoted value";
      return false;
    }
    std::u16string wide;
    if (!ToWide(text, &wide)) {
      *what = "the value is not valid UTF-8";
      return false;
    }
    wide.push_back(u'\0');
    value->type = REG_SZ;
    value->data = WideBytes(wide);
    return true;
  }
  if (StartsWithNoCase(data, kDwordPrefix)) {
    DWORD number = 0;
    if (!ParseHexNumber(Trim(data.substr(sizeof(kDwordPrefix) - 1)), &number)) {
      *what = "a dword needs 1 to 8 hex digits";
      return false;
    }
    value->type = REG_DWORD;
    value->data = {
        static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
        static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
    return true;
  }
  if (StartsWithNoCase(data, kHexPrefix)) {
    std::string_view rest = data.substr(sizeof(kHexPrefix) - 1);
    value->type = REG_BINARY;
    if (!rest.empty() && rest.front() == '(') {
      size_t close = rest.find(')');
      if (close == std::string_view::npos ||
          !ParseHexNumber(rest.substr(1, close - 1), &value->type)) {
        *what = "malformed hex(type)";
        return false;
      }
      rest = rest.substr(close + 1);
    }
    if (rest.empty() || rest.front() != ':') {
      *what = "expected : after hex";
      return false;
    }
    if (!ParseHexBytes(rest.substr(1), &value->data)) {
      *what = "malformed hex bytes";
      return false;
    }
    return true;
  }
  *what = "unrecognised value data";
  return false;
}

// `"Name"=data`, `@=data` or `"Name"=-`; line is trimmed and joined.
bool ParseValueLine(std::string_view line, RegTextOp* op, std::string* what) {
  size_t pos = 0;
  std::string name;
  if (line.front() == '@') {
    pos = 1;
  } else if (!ReadQuoted(line, &pos, &name)) {
    *what = "unterminated value name";
    return false;
  }
  std::u16string wideName;
  if (!ToWide(name, &wideName)) {
    *what = "the value name is not valid UTF-8";
    return false;
  }
  if (wideName.size() > kMaxValueNameLength) {
    *what = "a value name is longer than 16383 characters";
    return false;
  }
  if (!IsWritableName(wideName)) {
    *what = "a value name holds a line break or an unpaired surrogate";
    return false;
  }
  std::string_view rest = Trim(line.substr(pos));
  if (rest.empty() || rest.front() != '=') {
    *what = "expected = after the value name";
    return false;
  }
  rest = Trim(rest.substr(1));
  op->value.name = wideName;
  if (rest == "-") {
    op->kind = RegTextOp::Kind::kDeleteValue;
    return true;
  }
  op->kind = RegTextOp::Kind::kSetValue;
  return ParseValueData(rest, &op->value, what);
}

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

// Writes a key's sections; *path holds its path in UTF-8 and grows and
// shrinks by a level as the walk goes down and back up.
bool AppendSections(const RegKey& key, std::string* path, bool writeSelf,
                    bool skipVolatile, std::string* out, std::string* error) {
  if (skipVolatile && key.isVolatile) return true;
  if (writeSelf) {
    if (!IsWritableName(key.Name())) {
      *error = "key " + *path + ": the name cannot be written";
      return false;
    }
    out->push_back('[');
    *out += *path;
    out->push_back(']');
    *out += kNewline;
    for (const StoredValue& value : key.values) {
      if (!IsWritableName(value.Name())) {
        *error = "key " + *path + ": a value name cannot be written";
        return false;
      }
      AppendValue(value, out);
    }
    *out += kNewline;
  }
  size_t length = path->size();
  for (const RegKeyPtr& subkey : key.subkeys) {
    path->push_back('\\');
    AppendUtf8(subkey->Name(), path);
    bool written = AppendSections(*subkey, path, /*writeSelf=*/true,
                                  skipVolatile, out, error);
    path->resize(length);
    if (!written) return false;
  }
  return true;
}

}  // namespace

bool ParseRegText(std::string_view bytes, std::vector<RegTextOp>* ops,
                  std::string* error) {
  ops->clear();
  std::string text;
  if (!DecodeText(bytes, &text, error)) return false;
  std::vector<std::string_view> lines;
  std::string_view rest(text);
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    if (end == std::string_view::npos) end = rest.size();
    lines.push_back(rest.substr(0, end));
    rest.remove_prefix(end == rest.size() ? end : end + 1);
  }
  if (lines.empty() || Trim(lines[0]) != kHeader) {
    *error = LineError(1, std::string("expected \"") + kHeader + "\"");
    return false;
  }
  bool inSection = false;
  bool sectionDeleted = false;
  for (size_t index = 1; index < lines.size(); ++index) {
    size_t lineNumber = index + 1;
    std::string line(Trim(lines[index]));
    if (line.empty() || line.front() == ';') continue;
    std::string what;
    RegTextOp op;
    if (line.front() == '[') {
      if (!ParseSection(line, &op, &what)) {
        *error = LineError(lineNumber, what);
        return false;
      }
      inSection = true;
      sectionDeleted = op.kind == RegTextOp::Kind::kDeleteKey;
      ops->push_back(std::move(op));
      continue;
    }
    if (line.front() != '@' && line.front() != '"') {
      *error = LineError(lineNumber, "unrecognised line");
      return false;
    }
    // Long hex data goes on over several lines, each but the last ending in
    // a backslash.
    while (!line.empty() && line.back() == '\\' && index + 1 < lines.size()) {
      line.pop_back();
      line += Trim(lines[++index]);
    }
    if (!inSection) {
      *error = LineError(lineNumber, "a value outside a key section");
      return false;
    }
    if (!ParseValueLine(line, &op, &what)) {
      *error = LineError(lineNumber, what);
      return false;
    }
    // regedit passes over the values of a section that removes its key.
    if (!sectionDeleted) ops->push_back(std::move(op));
  }
  return true;
}

void ApplyRegOps(const std::vector<RegTextOp>& ops,
                 const RegKeyPtr (&roots)[kRootCount]) {
  RegKeyPtr current;
  for (const RegTextOp& op : ops) {
    const RegKeyPtr& root = roots[static_cast<int>(op.root)];
    switch (op.kind) {
      case RegTextOp::Kind::kOpenKey: {
        current = root;
        for (const std::u16string& level : op.levels) {
          RegKeyPtr next = FindSubkey(*current, level);
          current = next ? next : AddSubkey(*current, level);
        }
        break;
      }
      case RegTextOp::Kind::kDeleteKey: {
        current = nullptr;
        std::vector<std::u16string> parentLevels(op.levels.begin(),
                                                 op.levels.end() - 1);
        RegKeyPtr parent = FindPath(root, parentLevels);
        if (!parent) break;
        auto found = parent->subkeys.find(Upcase(op.levels.back()));
        if (found == parent->subkeys.end()) break;
        MarkTreeDeleted(**found);
        parent->subkeys.erase(found);
        parent->lastWrite = CurrentFileTime();
        break;
      }
      case RegTextOp::Kind::kSetValue:
        if (current)
          SetValue(*current, op.value.name, op.value.type, op.value.data);
        break;
      case RegTextOp::Kind::kDeleteValue:
        if (current) {
          StoredValue* value = current->FindValue(op.value.name);
          if (value != nullptr) {
            current->values.erase(current->values.begin() +
                                  (value - current->values.data()));
            current->lastWrite = CurrentFileTime();
          }
        }
        break;
    }
  }
}

std::string RegTextHeader() {
  return std::string(kHeader) + kNewline + kNewline;
}

bool AppendKeySections(const RegKey& key, const std::u16string& path,
                       bool writeSelf, bool skipVolatile, std::string* out,
                       std::string* error) {
  std::string utf8Path = WideToUtf8(path);
  utf8Path.reserve(utf8Path.size() + 1024);
  return AppendSections(key, &utf8Path, writeSelf, skipVolatile, out, error);
}

}  // namespace internal
}  // namespace qxplatform
