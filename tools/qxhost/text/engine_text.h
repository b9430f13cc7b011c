// Text between the script engine and automation. The engine keeps strings as
// CESU-8 (each UTF-16 unit of a surrogate pair encoded on its own); BSTRs
// and names are UTF-16. Converting unit by unit keeps every JS string,
// unpaired surrogates included, intact through a round trip.
//
// A script's strings can be as large as the engine's heap allows, and the
// host's own memory is not bounded by that cap: every conversion of a
// string of any size either writes into a buffer sized exactly beforehand
// (and allocated where a failure is reported, not thrown), streams in
// pieces, or is cut to a length that suits its use.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <string>

namespace qxhost {

// Longest piece of script text a message quotes (a name, an error message);
// longer text is cut and ends with "...".
constexpr size_t kMaxQuotedText = 2048;

// Bytes that do not decode become U+FFFD. For short text only (a name
// already checked against a limit).
std::u16string EngineTextToUtf16(const char* text, size_t length);
// The number of UTF-16 units text converts to, and the conversion into out,
// which has room for exactly that many.
size_t EngineTextUtf16Length(const char* text, size_t length);
void EngineTextToUtf16(const char* text, size_t length, char16_t* out);

std::string Utf16ToEngineText(const char16_t* text, size_t length);
// The number of engine bytes text converts to, and the conversion into out.
size_t Utf16EngineTextLength(const char16_t* text, size_t length);
void Utf16ToEngineText(const char16_t* text, size_t length, char* out);

// UTF-16 text appended to out as UTF-8, encoded as the platform encodes it
// (a pair as one code point, a surrogate alone as U+FFFD). False, with out
// as it was, when the platform refuses it.
bool AppendUtf16AsUtf8(const char16_t* text, size_t length, std::string* out);
inline std::string Utf16ToUtf8(const std::u16string& text) {
  std::string utf8;
  AppendUtf16AsUtf8(text.data(), text.size(), &utf8);
  return utf8;
}

// Engine text cut to kMaxQuotedText bytes, for a message that quotes it;
// cut text ends with "...".
std::string QuotedEngineText(const char* text, size_t length);
inline std::string QuotedEngineText(const std::string& text) {
  return QuotedEngineText(text.data(), text.size());
}

// For the terminal: pairs are joined into one UTF-8 sequence. At most
// maxBytes of text are converted; cut text ends with "...".
std::string EngineTextToUtf8(const char* text, size_t length,
                             size_t maxBytes = kMaxQuotedText);
// The same conversion written to file in pieces, so that printing a string
// costs no memory in proportion to it. False when writing failed.
bool WriteEngineTextAsUtf8(const char* text, size_t length, std::FILE* file);

// Control characters (C0, DEL, C1) of UTF-8 text as escapes such as "\x1B"
// and "\n": a message quoting script or page text cannot drive the terminal
// or fake a line of its own.
std::string EscapeControlCharacters(const std::string& utf8);

// One line on stderr, its control characters escaped, after whatever script
// has printed so far.
void ReportLine(const std::string& utf8);

}  // namespace qxhost
