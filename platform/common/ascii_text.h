// ASCII by itself, as the system treats the parts of names and numbers that
// are ASCII whatever the code page: case folded only from A-Z to a-z (never
// by the C library's locale), and hexadecimal digits in either case. Works
// on char and on UTF-16 units alike.
#pragma once
#include <string_view>

namespace qxplatform {
namespace internal {

template <class Unit>
constexpr Unit AsciiLower(Unit unit) {
  return unit >= 'A' && unit <= 'Z' ? static_cast<Unit>(unit - 'A' + 'a')
                                    : unit;
}

template <class Unit>
constexpr Unit AsciiUpper(Unit unit) {
  return unit >= 'a' && unit <= 'z' ? static_cast<Unit>(unit - 'a' + 'A')
                                    : unit;
}

// Equal when they differ only in the case of ASCII letters.
constexpr bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The value of a hexadecimal digit, either case; -1 for any other unit.
template <class Unit>
constexpr int HexDigitValue(Unit unit) {
  if (unit >= '0' && unit <= '9') return static_cast<int>(unit - '0');
  if (unit >= 'a' && unit <= 'f') return static_cast<int>(unit - 'a' + 10);
  if (unit >= 'A' && unit <= 'F') return static_cast<int>(unit - 'A' + 10);
  return -1;
}

}  // namespace internal
}  // namespace qxplatform
