// ScriptParser: the tokenizer and the %name% preprocessor. Every step goes
// over whole characters, so a trail byte is never taken for a quote, a
// percent sign or white space.
#include "registrar/script_parser.h"

#include <string.h>

#include "base/result_macros.h"
#include "registrar/replacement_map.h"
#include "registrar/text_builder.h"

namespace {

size_t Smaller(size_t a, size_t b) { return a < b ? a : b; }

// Copies plain ASCII text at text into out, at most room bytes: up to the
// terminator and, in a quoted token, a quote, or else a blank. Each is one
// whole character. Tokens are short: copying while scanning beats a scan
// and then a block copy.
size_t CopyAsciiRun(const char* text, size_t room, bool quoted, char* out) {
  const ByteStop kind = quoted ? kStopsQuoted : kStopsUnquoted;
  size_t run = 0;
  for (; run < room; ++run) {
    const char byte = text[run];
    if ((kByteStops.stops[static_cast<unsigned char>(byte)] & kind) != 0) break;
    out[run] = byte;
  }
  return run;
}

}  // namespace

bool ScriptParser::TakeAsciiRun(char* buffer, size_t* count, size_t room,
                                bool quoted) {
  const size_t run = CopyAsciiRun(m_position, room, quoted, buffer + *count);
  *count += run;
  m_position += run;
  return run != 0;
}

HRESULT ScriptParser::TakeCharacter(char* buffer, size_t capacity,
                                    size_t* count, bool roomLeft) {
  const char* next = NextCharacter(m_position);
  const size_t length = static_cast<size_t>(next - m_position);
  RETURN_REFUSED_IF(*this, kShorterToken,
                    !roomLeft || *count + length + 1 > capacity);
  while (m_position < next) buffer[(*count)++] = *m_position++;
  return S_OK;
}

HRESULT ScriptParser::ReadToken(char* buffer, size_t capacity) {
  SkipBlanks();
  m_tokenStart = m_position;
  RETURN_REFUSED_IF(*this, kMoreText, *m_position == '\0');
  size_t count = 0;

  if (*m_position == kQuote) {
    // A character is added only while the token holds fewer bytes than the
    // quoted limit of a full token buffer, and only when it fits whole with
    // the terminating zero: a smaller buffer (a value name) takes as much
    // quoted text as unquoted.
    const size_t limit = kTokenBufferSize - kQuotedTokenReserve;
    m_position = NextCharacter(m_position);
    while (*m_position != '\0') {
      // Plain ASCII up to the next quote goes over in one piece, no further
      // than the per-character checks below would let it.
      const size_t room = count < limit && count + 1 < capacity
                              ? Smaller(limit - count, capacity - 1 - count)
                              : 0;
      if (TakeAsciiRun(buffer, &count, room, /*quoted=*/true)) continue;
      if (*m_position == kQuote) {
        const char* next = NextCharacter(m_position);
        if (*next != kQuote) break;  // the closing quote
        m_position = next;           // two quotes stand for one
      }
      RETURN_IF_FAILED(
          TakeCharacter(buffer, capacity, &count, /*roomLeft=*/count < limit));
    }
    RETURN_REFUSED_IF(*this, kClosingQuote, *m_position == '\0');
    buffer[count] = '\0';
    m_position = NextCharacter(m_position);
    return S_OK;
  }

  while (*m_position != '\0' && !IsScriptBlank(*m_position)) {
    const size_t room = count + 1 < capacity ? capacity - 1 - count : 0;
    if (TakeAsciiRun(buffer, &count, room, /*quoted=*/false)) continue;
    RETURN_IF_FAILED(
        TakeCharacter(buffer, capacity, &count, /*roomLeft=*/true));
  }
  buffer[count] = '\0';
  return S_OK;
}

HRESULT ScriptParser::SkipValueClause(char (&token)[kTokenBufferSize]) {
  if (token[0] != kEquals) return S_OK;
  char value[kTokenBufferSize];
  RETURN_IF_FAILED(ReadToken(token));  // the type letter, not looked up
  SkipBlanks();
  RETURN_IF_FAILED(ReadToken(value));  // the value, dropped
  return ReadToken(token);
}

HRESULT ScriptParser::ExpandVariables(const char* text, char** expanded) {
  RETURN_HR_IF(E_POINTER, expanded == nullptr);
  *expanded = nullptr;
  RETURN_HR_IF(E_POINTER, text == nullptr);
  // A reference that fails is placed in the text as written.
  Start(text);

  TextBuilder builder;
  RETURN_IF_FAILED(builder.Make(static_cast<size_t>(lstrlenA(text))));

  const char* position = text;
  while (*position != '\0') {
    if (*position != kPercent) {
      // The text up to the next "%" goes over in one piece; plain ASCII is
      // stepped over by the byte.
      const char* runEnd = position;
      while (*runEnd != '\0' && *runEnd != kPercent) {
        runEnd += AsciiRunLength(runEnd, static_cast<size_t>(-1), kStopsText);
        if (*runEnd != '\0' && *runEnd != kPercent)
          runEnd = NextCharacter(runEnd);
      }
      RETURN_IF_FAILED(builder.AppendCharacters(
          position, static_cast<size_t>(runEnd - position)));
      position = runEnd;
      continue;
    }
    const char* nameStart = NextCharacter(position);
    if (*nameStart == kPercent) {
      RETURN_IF_FAILED(builder.AppendCharacter(position));
      position = NextCharacter(nameStart);
      continue;
    }
    m_tokenStart = position;
    const char* nameEnd = nameStart;
    while (*nameEnd != '\0' && *nameEnd != kPercent) {
      nameEnd = NextCharacter(nameEnd);
    }
    RETURN_REFUSED_IF(*this, kVariableEnd, *nameEnd == '\0');
    const size_t nameBytes = static_cast<size_t>(nameEnd - nameStart);
    if (nameBytes > kMaxVariableNameBytes) {
      Refuse(ScriptExpectation::kShorterVariable);
      return E_FAIL;
    }

    char name[kMaxVariableNameBytes + 1];
    for (size_t i = 0; i < nameBytes; ++i) name[i] = nameStart[i];
    name[nameBytes] = '\0';
    LPCOLESTR value = m_map != nullptr ? m_map->Lookup(name) : nullptr;
    RETURN_REFUSED_IF(*this, kKnownVariable, value == nullptr);
    RETURN_IF_FAILED(builder.AppendWide(value));
    position = NextCharacter(nameEnd);
  }
  RETURN_IF_FAILED(builder.AppendTerminator());
  *expanded = builder.Detach();
  return S_OK;
}

void ScriptParser::Describe(HRESULT status,
                            ScriptDiagnostic* diagnostic) const {
  *diagnostic = ScriptDiagnostic();
  diagnostic->status = status;
  if (m_text == nullptr || m_tokenStart == nullptr) return;
  diagnostic->expected = m_expected;
  unsigned line = 1;
  unsigned column = 1;
  for (const char* p = m_text; p < m_tokenStart && *p != '\0';
       p = NextCharacter(p)) {
    if (*p == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  diagnostic->line = line;
  diagnostic->column = column;
  // The token as written: to its closing quote (or percent sign, for a
  // variable), or to a blank; never past its line.
  const char quote = *m_tokenStart == kQuote || *m_tokenStart == kPercent
                         ? *m_tokenStart
                         : '\0';
  const bool quoted = quote != '\0';
  const char* end = m_tokenStart;
  for (const char* p = m_tokenStart; *p != '\0' && *p != '\n' && *p != '\r';) {
    if (!quoted && IsScriptBlank(*p)) break;
    const char* next = NextCharacter(p);
    if (static_cast<size_t>(next - m_tokenStart) >= sizeof(diagnostic->token))
      break;
    end = next;
    if (quoted && *p == quote && p != m_tokenStart) break;
    p = next;
  }
  for (size_t i = 0; m_tokenStart + i < end; ++i)
    diagnostic->token[i] = m_tokenStart[i];
}
