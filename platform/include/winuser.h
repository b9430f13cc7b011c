// The few user32 services the product needs: the multibyte character step.
#pragma once
#include <windef.h>

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOW 5

QXPLATFORM_API LPSTR WINAPI CharNextA(LPCSTR lpsz);
QXPLATFORM_API LPSTR WINAPI CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent);
