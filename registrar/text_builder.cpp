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

// The task allocator, since the caller frees the finished text with
// CoTaskMemFree.
void* TaskAllocate(SIZE_T size) { return CoTaskMemAlloc(size); }
void* TaskReallocate(void* block, SIZE_T size) {
  return CoTaskMemRealloc(block, size);
}
void TaskFree(void* block) { CoTaskMemFree(block); }
constexpr Allocator kTaskAllocator = {&TaskAllocate, &TaskReallocate,
                                      &TaskFree};

bool IsHighSurrogate(OLECHAR unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(OLECHAR unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

TextBuilder::TextBuilder() : m_buffer(kTaskAllocator, /*firstCapacity=*/1) {}

HRESULT TextBuilder::Make(size_t sourceBytes) {
  // A doubled size that does not fit would wrap round to a small block.
  RETURN_HR_IF(E_OUTOFMEMORY, sourceBytes > kMaxSize / 2);
  RETURN_IF_FAILED(m_buffer.Make(sourceBytes * 2));
  m_count = 0;
  return S_OK;
}

HRESULT TextBuilder::AppendBytes(const char* bytes, size_t count) {
  // Nothing is appended before Make has taken the first block.
  RETURN_IF_NULL_ALLOC(m_buffer.Data());
  RETURN_IF_FAILED(m_buffer.Reserve(m_count, count));
  memcpy(static_cast<char*>(m_buffer.Data()) + m_count, bytes, count);
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
  m_count = 0;
  return static_cast<char*>(m_buffer.Detach());
}
