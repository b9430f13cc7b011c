// The string helpers of kernel32: lengths, and comparisons in the order of
// the user locale's word sort (word_sort.h).
#include <locale.h>
#include <string.h>
#include <wctype.h>
#include <windows.h>

#include <string>

#include "platform_internal.h"
#include "word_sort.h"

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

int WINAPI lstrlenA(LPCSTR lpString) {
  return lpString == nullptr ? 0 : static_cast<int>(strlen(lpString));
}

int WINAPI lstrlenW(LPCWSTR lpString) {
  return lpString == nullptr
             ? 0
             : static_cast<int>(std::char_traits<char16_t>::length(lpString));
}

int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
  return qxplatform::internal::CompareWordSort(lpString1, lpString2,
                                               /*ignoreCase=*/false);
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
  return qxplatform::internal::CompareWordSort(lpString1, lpString2,
                                               /*ignoreCase=*/true);
}
