// The .reg text format as regedit writes and reads it: sections of keys,
// values as quoted text, dword: or hex(type): bytes, "[-key]" and "=-" for
// removal, ";" comments and "\" continuation lines. REGEDIT4 text differs
// only in its encoding (the ANSI code page) and in the data of string values
// written as hex (ANSI bytes rather than UTF-16). Decoding and every check
// of the text live here, for the registry file and for merged text alike.
#include "registry_text_reader.h"

#include "registry_text.h"

#include <windows.h>

namespace qxplatform {
namespace internal {
namespace {

// Prefixes of value data, compared without regard to case.
constexpr char kDwordPrefix[] = "dword:";
constexpr char kHexPrefix[] = "hex";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

std::string LineError(size_t line, const std::string& what) {
  return "line " + std::to_string(line) + ": " + what;
}

std::string NotAnsiText() {
  return "not text in code page " + std::to_string(GetACP());
}

bool IsAsciiText(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::string ExpectedHeader() {
  return std::string("expected \"") + kRegTextHeader + "\" or \"" +
         kRegEdit4Header + "\"";
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

// UTF-8 into *wide, reusing its storage; false for malformed UTF-8.
bool ToWide(std::string_view utf8, std::u16string* wide) {
  wide->clear();
  size_t ascii = 0;
  while (ascii < utf8.size() && static_cast<unsigned char>(utf8[ascii]) < 0x80)
    ++ascii;
  if (ascii == utf8.size()) {
    wide->assign(utf8.begin(), utf8.end());
    return true;
  }
  bool valid = false;
  *wide = Utf8ToWide(utf8, &valid);
  return valid;
}

// Reads a quoted text at *pos (which holds the opening quote), undoing the
// \\ and \" escapes; any other backslash stays as it is.
bool ReadQuoted(std::string_view line, size_t* pos, std::string* text) {
  text->clear();
  size_t i = *pos + 1;
  while (i < line.size()) {
    size_t stop = line.find_first_of("\"\\", i);
    if (stop == std::string_view::npos) return false;
    text->append(line.data() + i, stop - i);
    i = stop;
    if (line[i] == '"') {
      *pos = i + 1;
      return true;
    }
    if (i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) {
      text->push_back(line[i + 1]);
      i += 2;
      continue;
    }
    text->push_back('\\');
    ++i;
  }
  return false;
}

void WideBytes(std::u16string_view text, std::vector<uint8_t>* bytes) {
  bytes->resize(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    (*bytes)[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    (*bytes)[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
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

// "[HKEY_...\path]" or "[-HKEY_...\path]"; *path receives the name and
// *levels views into it.
bool ParseSection(std::string_view line, bool* deleteKey, RootId* rootId,
                  std::u16string* path, KeyLevels* levels, std::string* what) {
  if (line.back() != ']') {
    *what = "a key section must end with ]";
    return false;
  }
  std::string_view inner = line.substr(1, line.size() - 2);
  *deleteKey = !inner.empty() && inner.front() == '-';
  if (*deleteKey) inner.remove_prefix(1);
  if (!ToWide(inner, path)) {
    *what = "the key name is not valid UTF-8";
    return false;
  }
  std::u16string_view whole(*path);
  size_t split = whole.find(u'\\');
  std::u16string_view rootName = whole.substr(0, split);
  std::u16string_view rest;
  if (split != std::u16string_view::npos) rest = whole.substr(split + 1);
  const RootInfo* root = FindRootByName(rootName);
  if (root == nullptr) {
    *what = "unknown root key";
    return false;
  }
  if (!IsWritableName(rest)) {
    *what = "a key name holds a line break or an unpaired surrogate";
    return false;
  }
  *rootId = root->id;
  LSTATUS status = SplitKeyPath(rest, levels);
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
  if (*deleteKey && levels->empty()) {
    *what = "a root key cannot be deleted";
    return false;
  }
  return true;
}

// `hex:bytes` or `hex(type):bytes`, rest being what follows "hex".
// ansiStringData: string types are ANSI bytes (REGEDIT4).
bool ParseHexData(std::string_view rest, bool ansiStringData,
                  std::u16string* wide, RegValue* value, std::string* what) {
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
  if (ansiStringData && IsStringType(value->type)) {
    // Windows 9x kept these as ANSI text, and its regedit wrote them so;
    // the registry keeps every string as UTF-16.
    std::string_view bytes(reinterpret_cast<const char*>(value->data.data()),
                           value->data.size());
    if (!AnsiToWideExact(bytes, wide)) {
      *what = "the value's data is " + NotAnsiText();
      return false;
    }
    WideBytes(*wide, &value->data);
  }
  return true;
}

// ansiStringData: string types written as hex are ANSI bytes (REGEDIT4).
bool ParseValueData(std::string_view data, bool ansiStringData,
                    std::string* scratch, std::u16string* wide, RegValue* value,
                    std::string* what) {
  if (!data.empty() && data.front() == '"') {
    size_t pos = 0;
    if (!ReadQuoted(data, &pos, scratch) || !Trim(data.substr(pos)).empty()) {
      *what = "malformed quoted value";
      return false;
    }
    if (!ToWide(*scratch, wide)) {
      *what = "the value is not valid UTF-8";
      return false;
    }
    wide->push_back(u'\0');
    value->type = REG_SZ;
    WideBytes(*wide, &value->data);
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
  if (StartsWithNoCase(data, kHexPrefix))
    return ParseHexData(data.substr(sizeof(kHexPrefix) - 1), ansiStringData,
                        wide, value, what);
  *what = "unrecognised value data";
  return false;
}

// `"Name"=data`, `@=data` or `"Name"=-`. *deleteValue tells which.
bool ParseValueLine(std::string_view line, bool ansiStringData,
                    std::string* scratch, std::u16string* wide, RegValue* value,
                    bool* deleteValue, std::string* what) {
  size_t pos = 0;
  scratch->clear();
  if (line.front() == '@') {
    pos = 1;
  } else if (!ReadQuoted(line, &pos, scratch)) {
    *what = "unterminated value name";
    return false;
  }
  if (!ToWide(*scratch, &value->name)) {
    *what = "the value name is not valid UTF-8";
    return false;
  }
  if (value->name.size() > kMaxValueNameLength) {
    *what = "a value name is longer than 16383 characters";
    return false;
  }
  if (!IsWritableName(value->name)) {
    *what = "a value name holds a line break or an unpaired surrogate";
    return false;
  }
  std::string_view rest = Trim(line.substr(pos));
  if (rest.empty() || rest.front() != '=') {
    *what = "expected = after the value name";
    return false;
  }
  rest = Trim(rest.substr(1));
  *deleteValue = rest == "-";
  if (*deleteValue) return true;
  return ParseValueData(rest, ansiStringData, scratch, wide, value, what);
}

}  // namespace

bool RegTextReader::Fail(const std::string& what) {
  m_failed = true;
  m_error = what;
  return false;
}

bool RegTextReader::Feed(std::string_view bytes, std::string* error) {
  if (!m_failed) {
    if (m_encoding == Encoding::kUnknown) {
      // Three bytes tell every mark apart.
      m_start.append(bytes);
      if (m_start.size() >= kUtf8Mark.size()) TakeStart();
    } else if (m_encoding == Encoding::kUtf16) {
      FeedUtf16(bytes);
    } else {
      FeedUtf8(bytes);
    }
  }
  if (m_failed && error != nullptr) *error = m_error;
  return !m_failed;
}

// Chooses the encoding by the byte-order mark at the start of m_start (three
// bytes, or all there is at the end) and reads what came with it.
void RegTextReader::TakeStart() {
  std::string start;
  start.swap(m_start);
  std::string_view text(start);
  if (text.substr(0, kUtf16BeMark.size()) == kUtf16BeMark) {
    Fail("UTF-16 big-endian text is not supported");
  } else if (text.substr(0, kUtf16LeMark.size()) == kUtf16LeMark) {
    m_encoding = Encoding::kUtf16;
    m_hadByteOrderMark = true;
    FeedUtf16(text.substr(kUtf16LeMark.size()));
  } else {
    m_encoding = Encoding::kUtf8;
    if (text.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
      m_hadByteOrderMark = true;
      text.remove_prefix(kUtf8Mark.size());
    }
    FeedUtf8(text);
  }
}

// A UTF-16 unit, kept in m_units when it is a character or completes one.
// An unpaired surrogate is refused, after the lines before it, so that the
// error names its line.
bool RegTextReader::TakeUnit(char16_t c) {
  bool paired = true;
  if (m_highSurrogate != 0) {
    paired = c >= 0xDC00 && c <= 0xDFFF;
    if (paired) {
      m_units.push_back(m_highSurrogate);
      m_units.push_back(c);
    }
    m_highSurrogate = 0;
  } else if (c >= 0xD800 && c <= 0xDBFF) {
    m_highSurrogate = c;
  } else if (c >= 0xDC00 && c <= 0xDFFF) {
    paired = false;
  } else {
    m_units.push_back(c);
  }
  if (paired) return true;
  if (FeedUtf8(WideToUtf8(m_units)))
    Fail(
        LineError(m_lineNumber + 1, "UTF-16 text holds an unpaired surrogate"));
  return false;
}

bool RegTextReader::FeedUtf16(std::string_view bytes) {
  m_units.clear();
  auto byteAt = [&bytes](size_t at) {
    return static_cast<char16_t>(static_cast<unsigned char>(bytes[at]));
  };
  if (m_hasOddByte && !bytes.empty()) {
    m_hasOddByte = false;
    char16_t unit = static_cast<char16_t>(
        static_cast<unsigned char>(m_oddByte) | (byteAt(0) << 8));
    bytes.remove_prefix(1);
    if (!TakeUnit(unit)) return false;
  }
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    if (!TakeUnit(static_cast<char16_t>(byteAt(i) | (byteAt(i + 1) << 8))))
      return false;
  }
  if (i < bytes.size()) {
    m_oddByte = bytes[i];
    m_hasOddByte = true;
  }
  return FeedUtf8(WideToUtf8(m_units));
}

bool RegTextReader::FeedUtf8(std::string_view text) {
  while (!text.empty()) {
    size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      m_partial.append(text);
      return true;
    }
    bool ok;
    if (m_partial.empty()) {
      ok = TakeLine(text.substr(0, end));
    } else {
      m_partial.append(text.substr(0, end));
      ok = TakeLine(m_partial);
      m_partial.clear();
    }
    if (!ok) return false;
    text.remove_prefix(end + 1);
  }
  return true;
}

bool RegTextReader::TakeLine(std::string_view raw) {
  ++m_lineNumber;
  if (m_ansiText && !IsAsciiText(raw)) {
    // A line at a time, so that a double-byte character whose trail byte is
    // a backslash or a quote stays one character; no code page has a line
    // feed inside a character, so the line ends where the bytes say.
    if (!AnsiToWideExact(raw, &m_lineWide))
      return Fail(LineError(m_lineNumber, NotAnsiText()));
    m_lineText = WideToUtf8(m_lineWide);
    raw = m_lineText;
  }
  std::string_view line = Trim(raw);
  if (m_joinedFrom != 0) {
    // Long hex data goes on over several lines, each but the last ending in
    // a backslash.
    m_joined.append(line);
    if (!m_joined.empty() && m_joined.back() == '\\') {
      m_joined.pop_back();
      return true;
    }
    size_t from = m_joinedFrom;
    m_joinedFrom = 0;
    bool ok = HandleLogicalLine(m_joined, from);
    m_joined.clear();
    return ok;
  }
  if (!m_sawHeader) {
    // The mark was taken off already; U+FEFF again is a second one.
    if (raw.substr(0, kUtf8Mark.size()) == kUtf8Mark)
      return Fail(LineError(1, "the text starts with two byte-order marks"));
    if (line == kRegEdit4Header) {
      // regedit writes it in the ANSI code page; a byte-order mark says the
      // text was saved again in Unicode, and its hex data stays ANSI.
      m_ansiText = !m_hadByteOrderMark;
      m_ansiStringData = true;
    } else if (line != kRegTextHeader) {
      return Fail(LineError(1, ExpectedHeader()));
    }
    m_sawHeader = true;
    return true;
  }
  if (line.empty()) return true;
  if (m_lineNumber == 2) {
    m_marked = line == kRegFileCompleteMark;
    m_secondLineStartsMark =
        std::string_view(kRegFileCompleteMark).substr(0, line.size()) == line;
  }
  m_lastWasClosing = line == kRegFileClosingLine;
  if (line.front() == ';') return true;
  if (line.front() != '[' && line.front() != '@' && line.front() != '"')
    return Fail(LineError(m_lineNumber, "unrecognised line"));
  if (line.front() != '[' && line.back() == '\\') {
    m_joined.assign(line.substr(0, line.size() - 1));
    m_joinedFrom = m_lineNumber;
    return true;
  }
  return HandleLogicalLine(line, m_lineNumber);
}

// One whole entry, which starts on line lineNumber.
bool RegTextReader::HandleLogicalLine(std::string_view line,
                                      size_t lineNumber) {
  std::string what;
  auto fail = [&] { return Fail(LineError(lineNumber, what)); };
  if (line.front() == '[') {
    bool deleteKey = false;
    RootId root = RootId::kClassesRoot;
    if (!ParseSection(line, &deleteKey, &root, &m_path, &m_levels, &what))
      return fail();
    m_inSection = true;
    m_sectionDeleted = deleteKey;
    bool ok = deleteKey ? m_handler->DeleteKey(root, m_levels, &what)
                        : m_handler->OpenKey(root, m_levels, &what);
    return ok || fail();
  }
  if (!m_inSection) {
    what = "a value outside a key section";
    return fail();
  }
  bool deleteValue = false;
  if (!ParseValueLine(line, m_ansiStringData, &m_scratch, &m_wide, &m_value,
                      &deleteValue, &what))
    return fail();
  // regedit passes over the values of a section that removes its key.
  if (m_sectionDeleted) return true;
  bool ok = deleteValue ? m_handler->DeleteValue(m_value.name, &what)
                        : m_handler->SetValue(m_value, &what);
  return ok || fail();
}

bool RegTextReader::Finish(std::string* error) {
  if (!m_failed && m_encoding == Encoding::kUnknown) TakeStart();
  if (!m_failed && m_hasOddByte)
    Fail("UTF-16 text with an odd number of bytes");
  if (!m_failed && m_highSurrogate != 0)
    Fail(
        LineError(m_lineNumber + 1, "UTF-16 text holds an unpaired surrogate"));
  if (!m_failed && !m_partial.empty()) {
    std::string last;
    last.swap(m_partial);
    TakeLine(last);
  }
  if (!m_failed && m_joinedFrom != 0) {
    // The text ends inside a continued line: what there is, as it stands.
    m_joined.push_back('\\');
    size_t from = m_joinedFrom;
    m_joinedFrom = 0;
    HandleLogicalLine(m_joined, from);
  }
  if (!m_failed && !m_sawHeader) Fail(LineError(1, ExpectedHeader()));
  if (!m_failed && m_registryFile &&
      (m_lineNumber == 1 || (m_lineNumber == 2 && m_secondLineStartsMark)))
    Fail("the file ends right after its header: it was cut short");
  if (!m_failed && m_marked && !m_lastWasClosing)
    Fail(std::string("the file ends before its closing line \"") +
         kRegFileClosingLine + "\": it was cut short");
  if (m_failed && error != nullptr) *error = m_error;
  return !m_failed;
}

namespace {

// Keeps every entry, for a merge that must check the whole text first.
class RegOpRecorder final : public RegTextHandler {
 public:
  explicit RegOpRecorder(std::vector<RegTextOp>* ops) : m_ops(ops) {}
  bool OpenKey(RootId root, const KeyLevels& levels, std::string*) override {
    return Add(RegTextOp::Kind::kOpenKey, root, levels);
  }
  bool DeleteKey(RootId root, const KeyLevels& levels, std::string*) override {
    return Add(RegTextOp::Kind::kDeleteKey, root, levels);
  }
  bool SetValue(RegValue& value, std::string*) override {
    m_ops->emplace_back();
    m_ops->back().kind = RegTextOp::Kind::kSetValue;
    m_ops->back().value = std::move(value);
    return true;
  }
  bool DeleteValue(std::u16string_view name, std::string*) override {
    m_ops->emplace_back();
    m_ops->back().kind = RegTextOp::Kind::kDeleteValue;
    m_ops->back().value.name = std::u16string(name);
    return true;
  }

 private:
  bool Add(RegTextOp::Kind kind, RootId root, const KeyLevels& levels) {
    m_ops->emplace_back();
    RegTextOp& op = m_ops->back();
    op.kind = kind;
    op.root = root;
    op.levels.assign(levels.begin(), levels.end());
    return true;
  }
  std::vector<RegTextOp>* m_ops;
};

}  // namespace

bool ParseRegText(std::string_view bytes, std::vector<RegTextOp>* ops,
                  std::string* error) {
  ops->clear();
  RegOpRecorder recorder(ops);
  RegTextReader reader(&recorder, /*registryFile=*/false);
  if (reader.Feed(bytes, error) && reader.Finish(error)) return true;
  ops->clear();
  return false;
}

bool ReplayRegOps(std::vector<RegTextOp>& ops, RegTextHandler* handler,
                  std::string* error) {
  KeyLevels levels;
  for (RegTextOp& op : ops) {
    levels.clear();
    for (const std::u16string& level : op.levels) levels.push_back(level);
    bool ok = true;
    switch (op.kind) {
      case RegTextOp::Kind::kOpenKey:
        ok = handler->OpenKey(op.root, levels, error);
        break;
      case RegTextOp::Kind::kDeleteKey:
        ok = handler->DeleteKey(op.root, levels, error);
        break;
      case RegTextOp::Kind::kSetValue:
        ok = handler->SetValue(op.value, error);
        break;
      case RegTextOp::Kind::kDeleteValue:
        ok = handler->DeleteValue(op.value.name, error);
        break;
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace internal
}  // namespace qxplatform
