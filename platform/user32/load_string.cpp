// LoadStringA: string tables are RT_STRING resources of sixteen counted
// UTF-16 strings each, string n in block n / 16 + 1. The string comes out
// in the ANSI code page, cut to the buffer on a character boundary (a
// double-byte character is never split) and always terminated.
#include <windows.h>

#include <string>

#include "platform_internal.h"

namespace {

constexpr UINT kStringsPerBlock = 16;

// The counted string at index in a block; false when the block ends first.
bool StringInBlock(const BYTE* block, DWORD size, UINT index,
                   std::u16string* text) {
  DWORD position = 0;
  for (UINT current = 0;; ++current) {
    if (size - position < 2) return false;
    const DWORD length = block[position] | (block[position + 1] << 8);
    position += 2;
    if ((size - position) / 2 < length) return false;
    if (current == index) {
      text->resize(length);
      for (DWORD unit = 0; unit < length; ++unit) {
        const BYTE* p = block + position + 2 * unit;
        (*text)[unit] = static_cast<char16_t>(p[0] | (p[1] << 8));
      }
      return true;
    }
    position += 2 * length;
  }
}

}  // namespace

int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer,
                       int cchBufferMax) {
  if (lpBuffer == nullptr || cchBufferMax <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  lpBuffer[0] = '\0';
  const WORD id = static_cast<WORD>(uID);
  HRSRC block = FindResourceA(
      hInstance, MAKEINTRESOURCEA(id / kStringsPerBlock + 1), RT_STRING);
  if (block == nullptr) return 0;
  const BYTE* data =
      static_cast<const BYTE*>(LockResource(LoadResource(hInstance, block)));
  if (data == nullptr) return 0;
  std::u16string text;
  if (!StringInBlock(data, SizeofResource(hInstance, block),
                     id % kStringsPerBlock, &text)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  const std::string ansi = qxplatform::internal::WideToAnsi(text);
  const size_t room = static_cast<size_t>(cchBufferMax) - 1;
  size_t length = 0;
  while (length < ansi.size()) {
    const size_t step = IsDBCSLeadByte(static_cast<BYTE>(ansi[length])) &&
                                length + 1 < ansi.size()
                            ? 2
                            : 1;
    if (length + step > room) break;
    length += step;
  }
  ansi.copy(lpBuffer, length);
  lpBuffer[length] = '\0';
  return static_cast<int>(length);
}
