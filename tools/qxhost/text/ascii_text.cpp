// Byte by byte, never through the C library's locale-dependent calls.
#include "tools/qxhost/text/ascii_text.h"

#include <cstring>

namespace qxhost {
namespace {

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsOneOf(char c, const char* set) {
  return c != '\0' && std::strchr(set, c) != nullptr;
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string Trimmed(const std::string& text, const char* blanks) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsOneOf(text[first], blanks)) ++first;
  while (last > first && IsOneOf(text[last - 1], blanks)) --last;
  return text.substr(first, last - first);
}

}  // namespace qxhost
