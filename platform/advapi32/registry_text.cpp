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

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

// Checked here rather than replaced, so that what loads is what was written.
bool HasUnpairedSurrogate(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() &&
        IsLowSurrogate(text[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      return true;
    }
  }
  return false;
}

// The text as UTF-8: a UTF-16LE text with its BOM is converted, a UTF-8 BOM
// is dropped. The one place that decides what .reg bytes mean, for a loaded
// registry file and imported text alike. A second mark after the first is
// refused: it is no part of a key or value name and says the text was
// encoded twice.
bool DecodeText(std::string_view bytes, std::string* text, std::string* error) {
  constexpr char kDoubleBom[] = "the text starts with two byte-order marks";
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    bytes.remove_prefix(kUtf8Bom.size());
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
      *error = kDoubleBom;
      return false;
    }
    *text = std::string(bytes);
    return true;
  }
  if (bytes.substr(0, kUtf16BeBom.size()) == kUtf16BeBom) {
    *error = "UTF-16 big-endian text is not supported";
    return false;
  }
  if (bytes.substr(0, kUtf16LeBom.size()) == kUtf16LeBom) {
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
    if (!wide.empty() && wide[0] == u'\xFEFF') {
      *error = kDoubleBom;
      return false;
    }
    if (HasUnpairedSurrogate(wide)) {
      *error = "UTF-16 text holds an unpaired surrogate";
      return false;
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

std::string Escape(std::u16string_view text) {
  std::string utf8 = WideToUtf8(text);
  std::string result;
  for (char c : utf8) {
    if (c == '\\' || c == '"') result.push_back('\\');
    result.push_back(c);
  }
  return result;
}

// A REG_SZ that reads back identically from "quoted" form: one terminating
// zero, no other zero or control character, no unpaired surrogate.
bool FitsQuotedForm(const RegValue& value, std::u16string* text) {
  if (value.type != REG_SZ || value.data.size() < 2 ||
      value.data.size() % 2 != 0)
    return false;
  text->clear();
  for (size_t i = 0; i + 1 < value.data.size(); i += 2)
    text->push_back(
        static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8)));
  if (text->back() != u'\0') return false;
  text->pop_back();
  for (char16_t c : *text) {
    if (c < 0x20) return false;
  }
  return IsWellFormed(*text);
}

void AppendHex(const RegValue& value, std::string* line, std::string* out) {
  char prefix[24];
  if (value.type == REG_BINARY) {
    std::snprintf(prefix, sizeof(prefix), "hex:");
  } else {
    std::snprintf(prefix, sizeof(prefix),
                  "hex(%x):", static_cast<unsigned>(value.type));
  }
  *line += prefix;
  for (size_t i = 0; i < value.data.size(); ++i) {
    char item[4];
    std::snprintf(item, sizeof(item), "%02x", value.data[i]);
    bool last = i + 1 == value.data.size();
    if (line->size() + 3 > kHexLineLimit) {
      *out += *line + "\\" + kNewline;
      *line = "  ";
    }
    *line += item;
    if (!last) *line += ",";
  }
  *out += *line + kNewline;
}

void AppendValue(const RegValue& value, std::string* out) {
  std::string line =
      value.name.empty() ? "@=" : "\"" + Escape(value.name) + "\"=";
  std::u16string text;
  if (FitsQuotedForm(value, &text)) {
    *out += line + "\"" + Escape(text) + "\"" + kNewline;
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    char number[20];
    unsigned dword = value.data[0] | (value.data[1] << 8) |
                     (value.data[2] << 16) |
                     (static_cast<unsigned>(value.data[3]) << 24);
    std::snprintf(number, sizeof(number), "dword:%08x", dword);
    *out += line + number + kNewline;
  } else {
    AppendHex(value, &line, out);
  }
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
        MarkTreeDeleted(*found->second);
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
          RegValue* value = current->FindValue(op.value.name);
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
  if (skipVolatile && key.isVolatile) return true;
  if (writeSelf) {
    if (!IsWritableName(key.name)) {
      *error = "key " + WideToUtf8(path) + ": the name cannot be written";
      return false;
    }
    *out += "[" + WideToUtf8(path) + "]" + kNewline;
    for (const RegValue& value : key.values) {
      if (!IsWritableName(value.name)) {
        *error = "key " + WideToUtf8(path) + ": a value name cannot be written";
        return false;
      }
      AppendValue(value, out);
    }
    *out += kNewline;
  }
  for (const auto& entry : key.subkeys) {
    const RegKey& subkey = *entry.second;
    if (!AppendKeySections(subkey, path + u"\\" + subkey.name,
                           /*writeSelf=*/true, skipVolatile, out, error))
      return false;
  }
  return true;
}

}  // namespace internal
}  // namespace qxplatform
