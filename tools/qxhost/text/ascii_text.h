// ASCII text as file formats and HTML define it, whatever the locale: hex
// digits, letters compared regardless of case, blanks trimmed.
#pragma once
#include <string>

namespace qxhost {

// ASCII whitespace as HTML and URLs define it.
constexpr char kAsciiWhitespace[] = " \t\n\f\r";

// The value of a hex digit of either case; -1 for any other character.
int HexDigitValue(char c);

// Equal but for the case of ASCII letters; other bytes compare as they are.
bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b);

// Text without the leading and trailing characters that are in blanks.
std::string Trimmed(const std::string& text, const char* blanks);

}  // namespace qxhost
