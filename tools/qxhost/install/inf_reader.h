// A small reader for setup INF text, as a code-download cabinet carries:
// [sections] of key=value lines, ';' comments, quoted values. Built for
// text from an untrusted cabinet: bounded, every byte checked, and any
// line it cannot read is an error naming the line, never a guess.
#pragma once
#include <string>
#include <vector>

namespace qxhost {

// An INF is a few hundred bytes; anything larger is not one this host reads.
constexpr size_t kMaxInfSize = 65536;

struct InfEntry {
  std::string key;  // "" for a line without '='
  std::string value;
  int line = 0;
};

struct InfSection {
  std::string name;
  std::vector<InfEntry> entries;
};

class InfFile {
 public:
  // ANSI or UTF-8 text (a UTF-8 byte-order mark is skipped). False with
  // *error ("line N: ...") for text that is not an INF this reader takes.
  bool Parse(const std::string& bytes, std::string* error);

  // Sections and keys are found regardless of ASCII case; null or false
  // when absent. A section may be written more than once: its lines add up.
  const InfSection* Section(const std::string& name) const;
  const std::vector<InfSection>& sections() const { return m_sections; }

 private:
  std::vector<InfSection> m_sections;
};

// The first value of key in the section; false when there is none.
bool InfValue(const InfSection& section, const std::string& key,
              std::string* value);

// ASCII case-insensitive comparison, as INF names compare.
bool SameInfName(const std::string& a, const std::string& b);

}  // namespace qxhost
