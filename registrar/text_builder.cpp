// TextBuilder: appends whole characters to a doubling task allocator block.
#include "registrar/text_builder.h"

#include <string.h>

#include "base/result_macros.h"
#include "registrar/script_text.h"

namespace {

// Bytes one UTF-16 code point can take in the ANSI code page, with room to
// spare for a surrogate pair converted to default characters.
constexpr int kConvertedCharacterBufferSize = 8;
// ASCII copied from a UTF-16 value at a time.
constexpr size_t kAsciiRunBufferSize = 64;
constexpr size_t kMaxSize = static_cast<size_t>(-1);

bool IsHighSurrogate(OLECHAR unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(OLECHAR unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

TextBuilder::~TextBuilder() { CoTaskMemFree(m_data); }

HRESULT TextBuilder::Make(size_t sourceBytes) {
  // A doubled size that does not fit would wrap round to a small block.
  RETURN_HR_IF(E_OUTOFMEMORY, sourceBytes > kMaxSize / 2);
  const size_t capacity = sourceBytes == 0 ? 1 : sourceBytes * 2;
  void* block = CoTaskMemAlloc(capacity);
  RETURN_IF_NULL_ALLOC(block);
  CoTaskMemFree(m_data);
  m_data = static_cast<char*>(block);
  m_capacity = capacity;
  m_count = 0;
  return S_OK;
}

HRESULT TextBuilder::AppendBytes(const char* bytes, size_t count) {
  RETURN_IF_NULL_ALLOC(m_data);
  // Neither the sum nor a doubling may wrap round: either would leave a
  // block smaller than what is copied into it.
  RETURN_HR_IF(E_OUTOFMEMORY, count > kMaxSize - m_count);
  const size_t needed = m_count + count;
  if (needed > m_capacity) {
    size_t grown = m_capacity;
    while (needed > grown) {
      RETURN_HR_IF(E_OUTOFMEMORY, grown > kMaxSize / 2);
      grown *= 2;
    }
    void* block = CoTaskMemRealloc(m_data, grown);
    RETURN_IF_NULL_ALLOC(block);
    m_data = static_cast<char*>(block);
    m_capacity = grown;
  }
  memcpy(m_data + m_count, bytes, count);
  m_count += count;
  return S_OK;
}

HRESULT TextBuilder::AppendCharacter(const char* text) {
  size_t length = 1;
  if (!IsAsciiByte(text[0]) && IsDBCSLeadByte(static_cast<BYTE>(text[0])) &&
      text[1] != '\0') {
    length = 2;
  }
  return AppendBytes(text, length);
}

HRESULT TextBuilder::AppendCharacters(const char* text, size_t bytes) {
  return AppendBytes(text, bytes);
}

HRESULT TextBuilder::AppendWide(LPCOLESTR value) {
  // One code point at a time: the same bytes as converting the whole value
  // at once in these stateless code pages, without a buffer sized by it.
  char converted[kConvertedCharacterBufferSize];
  for (LPCOLESTR unit = value; *unit != 0;) {
    if (*unit < 0x80) {
      // Every ANSI code page keeps ASCII as it is: one byte, no conversion.
      // A run of it goes over in pieces of the buffer's size.
      char run[kAsciiRunBufferSize];
      size_t count = 0;
      while (count < sizeof(run) && *unit != 0 && *unit < 0x80)
        run[count++] = static_cast<char>(*unit++);
      RETURN_IF_FAILED(AppendBytes(run, count));
      continue;
    }
    int units = 1;
    if (IsHighSurrogate(unit[0]) && IsLowSurrogate(unit[1])) units = 2;
    const int bytes = WideCharToMultiByte(
        CP_ACP, 0, unit, units, converted, kConvertedCharacterBufferSize,
        /*lpDefaultChar=*/nullptr, /*lpUsedDefaultChar=*/nullptr);
    for (int i = 0; i < bytes;) {
      const char* character = converted + i;
      size_t length = 1;
      if (i + 1 < bytes && IsDBCSLeadByte(static_cast<BYTE>(converted[i]))) {
        length = 2;
      }
      RETURN_IF_FAILED(AppendBytes(character, length));
      i += static_cast<int>(length);
    }
    unit += units;
  }
  return S_OK;
}

HRESULT TextBuilder::AppendTerminator() {
  const char zero = '\0';
  return AppendBytes(&zero, 1);
}

char* TextBuilder::Detach() {
  char* data = m_data;
  m_data = nullptr;
  m_count = 0;
  m_capacity = 0;
  return data;
}
