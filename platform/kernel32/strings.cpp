// The string helpers of kernel32: lengths, and comparisons that read ANSI
// text by whole characters.
#include <locale.h>
#include <string.h>
#include <wctype.h>
#include <windows.h>

#include <string>

#include "ascii_text.h"
#include "platform_internal.h"

namespace qxplatform {
namespace internal {

// The C library's UTF-8 locale carries the Unicode simple case mapping.
char16_t SimpleUpper(char16_t unit) {
  static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (unit < 0x80 || unicode == nullptr) {
    return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - 0x20)
                                          : unit;
  }
  if (unit >= 0xD800 && unit <= 0xDFFF) return unit;
  wint_t upper = towupper_l(static_cast<wint_t>(unit), unicode);
  return upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

}  // namespace internal
}  // namespace qxplatform

namespace {

using qxplatform::internal::AsciiUpper;
using qxplatform::internal::SimpleUpper;

// Both texts are compared as whole characters: each is read in the ANSI
// code page first, so a double-byte character is never compared by halves.
int CompareAnsi(LPCSTR first, LPCSTR second, bool ignoreCase) {
  if (first == nullptr || second == nullptr) {
    if (first == second) return 0;
    return first == nullptr ? -1 : 1;
  }
  // ASCII is one unit per byte, unchanged, in every ANSI code page, and
  // folds to ASCII; so a common ASCII start is compared byte by byte, and
  // only what follows it needs converting (it starts on a character
  // boundary, as nothing before it was a lead byte).
  for (;; ++first, ++second) {
    const unsigned char a = static_cast<unsigned char>(*first);
    const unsigned char b = static_cast<unsigned char>(*second);
    if (a >= 0x80 || b >= 0x80) break;
    const unsigned char foldedA = ignoreCase ? AsciiUpper(a) : a;
    const unsigned char foldedB = ignoreCase ? AsciiUpper(b) : b;
    if (foldedA != foldedB) return foldedA < foldedB ? -1 : 1;
    if (a == '\0') return 0;
  }
  std::u16string left = qxplatform::internal::AnsiToWide(first);
  std::u16string right = qxplatform::internal::AnsiToWide(second);
  size_t common = left.size() < right.size() ? left.size() : right.size();
  for (size_t i = 0; i < common; ++i) {
    char16_t a = ignoreCase ? SimpleUpper(left[i]) : left[i];
    char16_t b = ignoreCase ? SimpleUpper(right[i]) : right[i];
    if (a != b) return a < b ? -1 : 1;
  }
  if (left.size() == right.size()) return 0;
  return left.size() < right.size() ? -1 : 1;
}

}  // namespace

int WINAPI lstrlenA(LPCSTR lpString) {
  return lpString == nullptr ? 0 : static_cast<int>(strlen(lpString));
}

int WINAPI lstrlenW(LPCWSTR lpString) {
  return lpString == nullptr
             ? 0
             : static_cast<int>(std::char_traits<char16_t>::length(lpString));
}

int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
  return CompareAnsi(lpString1, lpString2, /*ignoreCase=*/false);
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
  return CompareAnsi(lpString1, lpString2, /*ignoreCase=*/true);
}
