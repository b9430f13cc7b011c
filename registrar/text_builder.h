// The growing output of the preprocessor: one task allocator block that
// starts at twice the source text's length and doubles whenever the next
// character would not fit.
#pragma once
#include <windows.h>
#include <objbase.h>

#include "registrar/growable_buffer.h"

class TextBuilder {
 public:
  TextBuilder();
  TextBuilder(const TextBuilder&) = delete;
  TextBuilder& operator=(const TextBuilder&) = delete;

  // Takes the first block: twice sourceBytes, at least one byte.
  // E_OUTOFMEMORY when it cannot be had.
  HRESULT Make(size_t sourceBytes);

  // Appends the whole character at text: one byte, or two for a lead byte of
  // the ANSI code page (a lead byte right before a zero is one byte alone).
  // E_OUTOFMEMORY when the block cannot grow; the text so far stays.
  HRESULT AppendCharacter(const char* text);

  // Appends a run of whole characters at once (bytes long, as the caller
  // stepped over them); the block grows by doubling until the run fits.
  HRESULT AppendCharacters(const char* text, size_t bytes);

  // Appends value converted to the ANSI code page, character by character.
  HRESULT AppendWide(LPCOLESTR value);

  // Appends the terminating zero.
  HRESULT AppendTerminator();

  // Hands the block to the caller (free with CoTaskMemFree).
  char* Detach();

  size_t Count() const { return m_count; }
  size_t Capacity() const { return m_buffer.Capacity(); }

 private:
  HRESULT AppendBytes(const char* bytes, size_t count);

  GrowableBuffer m_buffer;
  size_t m_count = 0;
};
