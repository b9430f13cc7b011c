// INF lines: "[name]" opens a section; "key = value" (or a bare value)
// adds to it; ';' outside quotes starts a comment; a value in double quotes
// keeps its spaces and ';', and "" inside it is one quote. Control
// characters other than tab, and NUL anywhere, make the text unreadable:
// no INF carries them, and a value with a hidden byte must not pass for a
// name it only looks like.
#include "tools/qxhost/install/inf_reader.h"

#include "tools/qxhost/text/ascii_text.h"

namespace qxhost {
namespace {

constexpr size_t kMaxLineLength = 4096;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// An INF's blanks, around names, values and lines.
constexpr char kInfBlanks[] = " \t";

std::string LineError(int line, const std::string& what) {
  return "line " + std::to_string(line) + ": " + what;
}

// A value: unquoted text ends at ';' and is trimmed; quoted runs are kept
// as written. False when a quote is left open.
bool ParseValue(const std::string& text, std::string* value) {
  std::string out;
  std::string pending;  // unquoted spaces, kept only if more text follows
  bool quoted = false;
  bool any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          out += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        out += c;
      }
      continue;
    }
    if (c == ';') break;
    if (IsBlank(c)) {
      if (any) pending += c;
      continue;
    }
    out += pending;
    pending.clear();
    any = true;
    if (c == '"') {
      quoted = true;
    } else {
      out += c;
    }
  }
  if (quoted) return false;
  *value = out;
  return true;
}

// The key of a "key = value" line: the text before the first '=' that is
// outside quotes, or none.
size_t KeyEnd(const std::string& line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (!quoted && line[i] == ';') return std::string::npos;
    if (!quoted && line[i] == '=') return i;
  }
  return std::string::npos;
}

// Why the raw line cannot be read, or null: too long, or a control
// character other than a tab.
const char* RawLineProblem(const std::string& line) {
  if (line.size() > kMaxLineLength) return "line too long";
  for (char c : line) {
    unsigned char byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F)
      return "control character in the text";
  }
  return nullptr;
}

// "[name]", a comment allowed after it. False with *problem otherwise.
bool ReadSectionName(const std::string& text, std::string* name,
                     const char** problem) {
  size_t close = text.find(']');
  if (close == std::string::npos) {
    *problem = "section name without ']'";
    return false;
  }
  std::string rest = Trimmed(text.substr(close + 1), kInfBlanks);
  if (!rest.empty() && rest[0] != ';') {
    *problem = "text after the section name";
    return false;
  }
  *name = Trimmed(text.substr(1, close - 1), kInfBlanks);
  if (name->empty()) {
    *problem = "empty section name";
    return false;
  }
  return true;
}

// "key = value", or a value alone. False with *problem otherwise.
bool ReadEntry(const std::string& text, InfEntry* entry, const char** problem) {
  size_t equals = KeyEnd(text);
  std::string valueText = text;
  if (equals != std::string::npos) {
    if (!ParseValue(text.substr(0, equals), &entry->key) ||
        entry->key.empty()) {
      *problem = "empty or unreadable key";
      return false;
    }
    valueText = text.substr(equals + 1);
  }
  if (!ParseValue(valueText, &entry->value)) {
    *problem = "quote left open";
    return false;
  }
  return true;
}

// The section of that name, added when it is new: lines of a section
// written twice add up.
InfSection* SectionNamed(std::vector<InfSection>* sections,
                         const std::string& name) {
  for (InfSection& section : *sections) {
    if (EqualsIgnoringAsciiCase(section.name, name)) return &section;
  }
  sections->push_back(InfSection{name, {}});
  return &sections->back();
}

}  // namespace

bool SameInfName(const std::string& a, const std::string& b) {
  return EqualsIgnoringAsciiCase(a, b);
}

bool InfValue(const InfSection& section, const std::string& key,
              std::string* value) {
  for (const InfEntry& entry : section.entries) {
    if (SameInfName(entry.key, key)) {
      *value = entry.value;
      return true;
    }
  }
  return false;
}

const InfSection* InfFile::Section(const std::string& name) const {
  for (const InfSection& section : m_sections) {
    if (SameInfName(section.name, name)) return &section;
  }
  return nullptr;
}

bool InfFile::Parse(const std::string& bytes, std::string* error) {
  m_sections.clear();
  if (bytes.size() > kMaxInfSize) {
    *error = "larger than " + std::to_string(kMaxInfSize) + " bytes";
    return false;
  }
  size_t start = 0;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                            (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
    *error = "UTF-16 text; this host reads ANSI or UTF-8 INF files";
    return false;
  }
  InfSection* current = nullptr;
  int lineNumber = 0;
  const char* problem = nullptr;
  while (start < bytes.size() && problem == nullptr) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    problem = RawLineProblem(line);
    if (problem != nullptr) break;
    std::string text = Trimmed(line, kInfBlanks);
    if (text.empty() || text[0] == ';') continue;
    if (text[0] == '[') {
      std::string name;
      if (ReadSectionName(text, &name, &problem))
        current = SectionNamed(&m_sections, name);
      continue;
    }
    InfEntry entry;
    entry.line = lineNumber;
    if (current == nullptr)
      problem = "text before the first section";
    else if (ReadEntry(text, &entry, &problem))
      current->entries.push_back(entry);
  }
  if (problem != nullptr) {
    *error = LineError(lineNumber, problem);
    return false;
  }
  return true;
}

}  // namespace qxhost
