// Character stepping over ANSI text, as user32 does it: a double-byte
// character is never split.
#include <windows.h>

LPSTR WINAPI CharNextA(LPCSTR lpsz) {
  if (lpsz == nullptr) return nullptr;
  // No ANSI code page has a lead byte below 0x80: ASCII needs no table.
  if (static_cast<BYTE>(*lpsz) < 0x80)
    return const_cast<LPSTR>(*lpsz == '\0' ? lpsz : lpsz + 1);
  if (IsDBCSLeadByte(static_cast<BYTE>(*lpsz)) && lpsz[1] != '\0')
    return const_cast<LPSTR>(lpsz + 2);
  return const_cast<LPSTR>(lpsz + 1);
}

LPSTR WINAPI CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent) {
  if (lpszStart == nullptr || lpszCurrent == nullptr ||
      lpszCurrent <= lpszStart)
    return const_cast<LPSTR>(lpszStart);
  // Double-byte text can only be walked forwards: a trail byte may look
  // like a lead byte, so the character boundaries are found from the start.
  LPCSTR position = lpszStart;
  while (*position != '\0' && position < lpszCurrent) {
    LPCSTR next = CharNextA(position);
    if (next >= lpszCurrent) break;
    position = next;
  }
  return const_cast<LPSTR>(position);
}
