// The reading state of one script run: the position in the expanded text and
// the variables the preprocessor consults. Cuts the text into tokens and
// expands %name% references.
#pragma once
#include <windows.h>

#include "base/result_macros.h"
#include "registrar/script_diagnostic.h"
#include "registrar/script_text.h"

class ReplacementMap;

class ScriptParser {
 public:
  // The parser does not own the map; it must outlive every ExpandVariables.
  explicit ScriptParser(const ReplacementMap* map) : m_map(map) {}

  const char* Position() const { return m_position; }
  // Starts reading text, from its beginning.
  void Start(const char* text) {
    m_position = m_tokenStart = m_text = text;
    m_expected = ScriptExpectation::kNone;
  }
  void Stop() { m_position = nullptr; }

  // Notes that the script does not read as expected at the token read last,
  // and answers the syntax error's status. Only a stopped run's diagnostic
  // reads what is noted, so a run that goes on costs nothing more.
  HRESULT Refuse(ScriptExpectation expected) {
    m_expected = expected;
    return DISP_E_EXCEPTION;
  }
  // Fills *diagnostic for a run that stopped with status; before Stop,
  // while the text is still there.
  void Describe(HRESULT status, ScriptDiagnostic* diagnostic) const;

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
  HRESULT ExpandVariables(const char* text, char** expanded);

 private:
  // The two ways a token grows, both stepping the position over what they
  // copy to buffer + *count. TakeAsciiRun copies the plain ASCII that
  // continues the token, at most room bytes; false when there is none.
  // TakeCharacter copies the one whole character there, refused as too
  // long unless roomLeft and it fits capacity with the terminating zero.
  bool TakeAsciiRun(char* buffer, size_t* count, size_t room, bool quoted);
  HRESULT TakeCharacter(char* buffer, size_t capacity, size_t* count,
                        bool roomLeft);

  const char* m_position = nullptr;
  const ReplacementMap* m_map;
  // Where the text being read begins and its last token began, and what
  // was wanted when the run was refused.
  const char* m_text = nullptr;
  const char* m_tokenStart = nullptr;
  ScriptExpectation m_expected = ScriptExpectation::kNone;
};

// Returns the syntax error's status from the function, noting what parser's
// script should have held there, when cond holds.
#define RETURN_REFUSED_IF(parser, expected, cond) \
  RETURN_HR_IF((parser).Refuse(ScriptExpectation::expected), cond)
