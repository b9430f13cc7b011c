// The user locale's word sort for the code pages the platform supports
// (1252 and 932). Each character becomes weights that are compared in
// rounds over the whole text, as the system compares them:
//   1. letters and the rest, case and accents aside: punctuation and symbols
//      (by code point) before digits (by value) before letters (a to z, then
//      other letters by code point);
//   2. accents: a plain letter before its accented forms;
//   3. case, unless ignored: lower case before upper case;
//   4. the hyphen, the apostrophe and the soft hyphen, which word sort leaves
//      out of the rounds above so that "co-op" sorts beside "coop": the text
//      without them first, then by where they stand.
// Letters the system expands compare as their expansion, with a mark of
// their own in the accent round: "ß" as "ss", "æ" as "ae", "œ" as "oe".
//
// In code page 932 a double-byte character sorts after every single-byte
// one (including the half-width katakana), by its code in the code page:
// the platform carries no kana or kanji collation table, and the code
// order is the one the code page's own tables give. Case still folds
// there (full-width "ａ" and "Ａ" are one letter in two cases).
#include "word_sort.h"

#include <locale.h>
#include <stdint.h>
#include <wctype.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform_internal.h"

namespace {

using qxplatform::internal::SimpleUpper;

// Where each kind of character starts in round 1.
constexpr uint32_t kSymbols = 0x00000;  // + code point
constexpr uint32_t kDigits = 0x10000;   // + value
constexpr uint32_t kLetters = 0x20000;  // + 1..27 (a..z, þ)
constexpr uint32_t kOtherLetters = 0x30000;  // + code point
constexpr uint32_t kDoubleByte = 0x40000;    // + code in the code page

// Round 2's marks; 0 is a plain character.
enum Accent : uint8_t {
  kPlain = 0,
  kAcute,
  kGrave,
  kCircumflex,
  kTilde,
  kDiaeresis,
  kRing,
  kCedilla,
  kCaron,
  kStroke,
  kRaised,    // ª º ¹ ² ³
  kLigature,  // ß æ œ: one letter standing for two
  kHook,      // ƒ
};

// An upper-case (or caseless) letter of code page 1252 beyond ASCII, as the
// letters it sorts as and its accent.
struct LetterRow {
  char16_t unit;
  const char* letters;
  Accent accent;
};

constexpr LetterRow kLetterRows[] = {
    {0x00AA, "a", kRaised},     {0x00BA, "o", kRaised},
    {0x00C0, "a", kGrave},      {0x00C1, "a", kAcute},
    {0x00C2, "a", kCircumflex}, {0x00C3, "a", kTilde},
    {0x00C4, "a", kDiaeresis},  {0x00C5, "a", kRing},
    {0x00C6, "ae", kLigature},  {0x00C7, "c", kCedilla},
    {0x00C8, "e", kGrave},      {0x00C9, "e", kAcute},
    {0x00CA, "e", kCircumflex}, {0x00CB, "e", kDiaeresis},
    {0x00CC, "i", kGrave},      {0x00CD, "i", kAcute},
    {0x00CE, "i", kCircumflex}, {0x00CF, "i", kDiaeresis},
    {0x00D0, "d", kStroke},     {0x00D1, "n", kTilde},
    {0x00D2, "o", kGrave},      {0x00D3, "o", kAcute},
    {0x00D4, "o", kCircumflex}, {0x00D5, "o", kTilde},
    {0x00D6, "o", kDiaeresis},  {0x00D8, "o", kStroke},
    {0x00D9, "u", kGrave},      {0x00DA, "u", kAcute},
    {0x00DB, "u", kCircumflex}, {0x00DC, "u", kDiaeresis},
    {0x00DD, "y", kAcute},      {0x00DE, "{", kPlain},  // þ after z
    {0x00DF, "ss", kLigature},  {0x0152, "oe", kLigature},
    {0x0160, "s", kCaron},      {0x0178, "y", kDiaeresis},
    {0x017D, "z", kCaron},      {0x0191, "f", kHook},
};

const LetterRow* FindLetterRow(char16_t unit) {
  for (const LetterRow& row : kLetterRows)
    if (row.unit == unit) return &row;
  return nullptr;
}

struct Element {
  uint32_t primary;
  uint8_t accent;
  uint8_t upper;  // 1 for a character that is not a lower-case form
};

struct Ignored {
  size_t position;  // the number of elements before it
  char16_t unit;
};

struct SortKey {
  std::vector<Element> elements;
  std::vector<Ignored> ignored;
};

bool IsWordSortIgnored(char16_t unit) {
  return unit == u'-' || unit == u'\'' || unit == 0x00AD;
}

bool IsLetter(char16_t unit) {
  static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (unit < 0x80 || unicode == nullptr)
    return (unit | 0x20) >= u'a' && (unit | 0x20) <= u'z';
  return iswalpha_l(static_cast<wint_t>(unit), unicode) != 0;
}

// The code of a double-byte character in the ANSI code page, by its folded
// form when case is folded and that form is in the code page too.
uint32_t DoubleByteCode(char16_t folded, const unsigned char* bytes) {
  std::string ansi;
  if (qxplatform::internal::WideToAnsiExact(std::u16string_view(&folded, 1),
                                            &ansi) &&
      ansi.size() == 2)
    return static_cast<unsigned char>(ansi[0]) << 8 |
           static_cast<unsigned char>(ansi[1]);
  return bytes[0] << 8 | bytes[1];
}

void AddCharacter(char16_t unit, const unsigned char* bytes, size_t length,
                  SortKey* key) {
  if (IsWordSortIgnored(unit)) {
    key->ignored.push_back({key->elements.size(), unit});
    return;
  }
  const char16_t folded = SimpleUpper(unit);
  // A character whose upper case is another is a lower-case form; any other
  // sorts after the lower-case forms that fold to it.
  const uint8_t upper = folded == unit ? 1 : 0;
  if (length == 2) {
    key->elements.push_back(
        {kDoubleByte + DoubleByteCode(folded, bytes), kPlain, upper});
    return;
  }
  if (unit >= u'0' && unit <= u'9') {
    key->elements.push_back({kDigits + (unit - u'0'), kPlain, 0});
    return;
  }
  if (unit == 0x00B9 || unit == 0x00B2 || unit == 0x00B3) {
    const uint32_t value = unit == 0x00B9 ? 1 : unit == 0x00B2 ? 2 : 3;
    key->elements.push_back({kDigits + value, kRaised, 0});
    return;
  }
  if (folded >= u'A' && folded <= u'Z') {
    key->elements.push_back({kLetters + 1 + (folded - u'A'), kPlain, upper});
    return;
  }
  if (const LetterRow* row = FindLetterRow(folded)) {
    for (const char* letter = row->letters; *letter != '\0'; ++letter)
      key->elements.push_back(
          {kLetters + 1 + static_cast<uint32_t>(*letter - 'a'), row->accent,
           upper});
    return;
  }
  if (IsLetter(unit)) {
    key->elements.push_back({kOtherLetters + folded, kPlain, upper});
    return;
  }
  key->elements.push_back({kSymbols + unit, kPlain, 0});
}

SortKey KeyOf(const char* text) {
  SortKey key;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  while (*bytes != 0) {
    // A lead byte with its trail is one character; a lead byte at the end
    // of the text stands alone.
    const size_t length =
        IsDBCSLeadByte(bytes[0]) && bytes[1] != 0 ? 2 : 1;
    std::u16string wide = qxplatform::internal::AnsiToWide(
        std::string_view(reinterpret_cast<const char*>(bytes), length));
    const char16_t unit = wide.empty() ? static_cast<char16_t>(bytes[0])
                                       : wide[0];
    AddCharacter(unit, bytes, length, &key);
    bytes += length;
  }
  return key;
}

int Sign(bool less) { return less ? -1 : 1; }

// Round by round; the shorter text first where one is the start of the
// other.
int CompareKeys(const SortKey& a, const SortKey& b, bool ignoreCase) {
  const size_t common = std::min(a.elements.size(), b.elements.size());
  for (size_t i = 0; i < common; ++i) {
    if (a.elements[i].primary != b.elements[i].primary)
      return Sign(a.elements[i].primary < b.elements[i].primary);
  }
  if (a.elements.size() != b.elements.size())
    return Sign(a.elements.size() < b.elements.size());
  for (size_t i = 0; i < common; ++i) {
    if (a.elements[i].accent != b.elements[i].accent)
      return Sign(a.elements[i].accent < b.elements[i].accent);
  }
  if (!ignoreCase) {
    for (size_t i = 0; i < common; ++i) {
      if (a.elements[i].upper != b.elements[i].upper)
        return Sign(a.elements[i].upper < b.elements[i].upper);
    }
  }
  const size_t ignored = std::min(a.ignored.size(), b.ignored.size());
  for (size_t i = 0; i < ignored; ++i) {
    if (a.ignored[i].position != b.ignored[i].position)
      return Sign(a.ignored[i].position < b.ignored[i].position);
    if (a.ignored[i].unit != b.ignored[i].unit)
      return Sign(a.ignored[i].unit < b.ignored[i].unit);
  }
  if (a.ignored.size() != b.ignored.size())
    return Sign(a.ignored.size() < b.ignored.size());
  return 0;
}

}  // namespace

namespace qxplatform {
namespace internal {

int CompareWordSort(const char* first, const char* second, bool ignoreCase) {
  if (first == nullptr || second == nullptr) {
    if (first == second) return 0;
    return first == nullptr ? -1 : 1;
  }
  return CompareKeys(KeyOf(first), KeyOf(second), ignoreCase);
}

}  // namespace internal
}  // namespace qxplatform
