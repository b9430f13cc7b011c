// Where a script run stopped, for a caller that asks: the line and column
// of the token it stopped at, the token itself and what the script's
// grammar wanted in its place, and whether what a failed register run did
// could all be taken back. The registrar fills this in only when asked
// and carries no text for it: what each expectation means in words is the
// caller's to say, so the library stays as small as it is.
#pragma once
#include <windows.h>

enum class ScriptExpectation : unsigned char {
  kNone,                // the text was fine: the registry or memory failed
  kMoreText,            // a token, where the text ended
  kClosingQuote,        // the end of a quoted token
  kShorterToken,        // a token that fits the registrar's buffer
  kRootKey,             // a root key's name (HKCR, HKLM, ...)
  kOpenBrace,           // "{" behind a root key
  kEntry,               // a key name, a keyword or "}" to begin an entry
  kKeyName,             // a key name: not empty, no backslash, under 260 bytes
  kEquals,              // "=" behind a value's name
  kValueType,           // a value's type letter: s, d or b
  kEvenHexDigits,       // binary data as pairs of hex digits
  kNoBlockAfterDelete,  // nothing behind a Delete entry but its value
  kShallowerNesting,    // blocks nested at most 512 deep
  kVariableEnd,         // the "%" that ends a %name% reference
  kShorterVariable,     // a variable name of at most 31 bytes
  kKnownVariable,       // a variable the run defines
};

// Left as it is made (status S_OK, line 0) by a run that succeeds.
struct ScriptDiagnostic {
  HRESULT status = S_OK;
  ScriptExpectation expected = ScriptExpectation::kNone;
  // 1-based, in the script as its %name% references expanded it (where a
  // reference itself failed, in the script as written); 0 when the run
  // stopped before reading any of it.
  unsigned line = 0;
  unsigned column = 0;  // in characters of the ANSI code page
  // The token it stopped at, as written, cut short at a whole character.
  char token[64] = {};
  // A register run that failed takes back what it did; when the registry
  // refused a step of that, the first refusal, and the registry is left
  // partly changed. S_OK when everything came back (or nothing had to).
  HRESULT rollback = S_OK;
};
