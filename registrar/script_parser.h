// The reading state of one script run: the position in the expanded text and
// the variables the preprocessor consults. Cuts the text into tokens and
// expands %name% references.
#pragma once
#include <windows.h>

#include "registrar/script_text.h"

class ReplacementMap;

class ScriptParser {
 public:
  // The parser does not own the map; it must outlive every ExpandVariables.
  explicit ScriptParser(const ReplacementMap* map) : m_map(map) {}

  const char* Position() const { return m_position; }
  void SetPosition(const char* position) { m_position = position; }

  // Moves the position past white space.
  // Before every token, so kept inline. White space is ASCII: one byte is
  // one character.
  void SkipBlanks() {
    while ((kByteStops.stops[static_cast<unsigned char>(*m_position)] &
            kIsBlank) != 0)
      ++m_position;
  }

  // Skips white space and reads one token into buffer (capacity bytes, the
  // token and its zero). DISP_E_EXCEPTION at the end of the text, at an
  // unclosed quote, and for a token that does not fit: every character must
  // fit whole with the zero, and a quoted token grows only while it holds
  // fewer than kTokenBufferSize - 2 bytes. On failure the position stays
  // where it was found.
  HRESULT ReadToken(char* buffer, size_t capacity);
  template <size_t N>
  HRESULT ReadToken(char (&buffer)[N]) {
    return ReadToken(buffer, N);
  }

  // When token begins with "=", reads the type letter, the value and the
  // token behind them (into token); otherwise does nothing.
  HRESULT SkipValueClause(char (&token)[kTokenBufferSize]);

  // Writes text with every %name% replaced into a new zero-terminated task
  // allocator block for the caller. *expanded is null unless S_OK.
  HRESULT ExpandVariables(const char* text, char** expanded) const;

 private:
  const char* m_position = nullptr;
  const ReplacementMap* m_map;
};
