// Character-level rules of registry script text: what white space is, how
// the walk steps over one multibyte character of the ANSI code page, and
// the fixed buffer sizes every reader of a script shares.
#pragma once
#include <windows.h>

// Every token is read into a caller-owned buffer of this size (the token and
// its terminating zero).
constexpr size_t kTokenBufferSize = 4096;
// A quoted token grows one character at a time only while it holds fewer
// than this many bytes below a token buffer's size (room for a double-byte
// character and the terminating zero).
constexpr size_t kQuotedTokenReserve = 2;
// The name that follows "Val", and the copy of a key name kept in unregister
// mode so the key can be deleted after its handle is closed.
constexpr size_t kNameBufferSize = 260;
// A %name% reference names at most this many bytes.
constexpr size_t kMaxVariableNameBytes = 31;
// Blocks nest at most this deep, as the registry nests keys at most this
// deep; a deeper script is refused before it exhausts the stack.
constexpr int kMaxBlockDepth = 512;

constexpr char kQuote = '\'';
constexpr char kPercent = '%';
constexpr char kOpenBrace = '{';
constexpr char kCloseBrace = '}';
constexpr char kEquals = '=';
constexpr char kBackslash = '\\';

// Tab, line feed, carriage return and space. Form feed and vertical tab are
// text, and so is every byte of 0x80 or above (a lead byte in particular).
inline bool IsScriptBlank(char byte) {
  return byte == '\t' || byte == '\n' || byte == '\r' || byte == ' ';
}

// No ANSI code page has a lead byte below 0x80, so such a byte is a whole
// character by itself; only the others need the code page.
inline bool IsAsciiByte(char byte) {
  return static_cast<unsigned char>(byte) < 0x80;
}

// Where a run of plain ASCII ends, by byte, for the loops that copy runs in
// one piece: one table lookup per byte instead of a comparison per kind.
// Every byte of 0x80 or above and the terminator end every kind of run.
enum ByteStop : unsigned char {
  kStopsUnquoted = 1,  // a blank
  kStopsQuoted = 2,    // a quote
  kStopsText = 4,      // a percent sign, in text being expanded
  kStopsAll = kStopsUnquoted | kStopsQuoted | kStopsText,
  kIsBlank = 8,  // white space itself, as IsScriptBlank says
};

struct ByteStopTable {
  unsigned char stops[256];
  constexpr ByteStopTable() : stops() {
    stops[0] = kStopsAll;
    for (int byte = 0x80; byte < 0x100; ++byte) stops[byte] = kStopsAll;
    stops[static_cast<unsigned char>('\t')] = kStopsUnquoted | kIsBlank;
    stops[static_cast<unsigned char>('\n')] = kStopsUnquoted | kIsBlank;
    stops[static_cast<unsigned char>('\r')] = kStopsUnquoted | kIsBlank;
    stops[static_cast<unsigned char>(' ')] = kStopsUnquoted | kIsBlank;
    stops[static_cast<unsigned char>(kQuote)] = kStopsQuoted;
    stops[static_cast<unsigned char>(kPercent)] = kStopsText;
  }
};
inline constexpr ByteStopTable kByteStops;

// Bytes of plain ASCII at text, at most room, before the first byte that
// stops a run of this kind.
inline size_t AsciiRunLength(const char* text, size_t room, ByteStop kind) {
  size_t run = 0;
  while (run < room &&
         (kByteStops.stops[static_cast<unsigned char>(text[run])] & kind) == 0)
    ++run;
  return run;
}

// The next character after the one at text, via CharNextA, but never past the
// terminating zero: a lead byte directly before the zero is a character of
// its own, so the walk stops cleanly on the terminator. Plain ASCII is
// stepped here: a call out per byte is most of what reading a script costs.
inline const char* NextCharacter(const char* text) {
  if (IsAsciiByte(*text)) return *text == '\0' ? text : text + 1;
  const char* next = CharNextA(text);
  if (next <= text) return text + 1;
  if (next > text + 1 && text[1] == '\0') return text + 1;
  return next;
}

// A key name holds a backslash only where a whole character is one; the
// trail byte 0x5C of a double-byte character is not.
inline bool HasBackslash(const char* name) {
  for (const char* p = name; *p != '\0'; p = NextCharacter(p)) {
    if (*p == kBackslash) return true;
  }
  return false;
}
