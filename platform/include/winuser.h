// The few user32 services the product needs: the multibyte character step
// and string table lookups.
#pragma once
#include <windef.h>

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOW 5

QXPLATFORM_API LPSTR WINAPI CharNextA(LPCSTR lpsz);
QXPLATFORM_API LPSTR WINAPI CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent);

// The string uID of the module's string table in the ANSI code page, cut
// to cchBufferMax - 1 bytes and terminated; the bytes copied, 0 when there
// is no such string.
QXPLATFORM_API int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID,
                                      LPSTR lpBuffer, int cchBufferMax);
