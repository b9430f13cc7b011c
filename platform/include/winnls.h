// ANSI code page services: the code page is chosen when the process starts
// (1252 unless the host picks another; 932 is supported as well).
#pragma once
#include <windef.h>

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_ERR_INVALID_CHARS 0x00000080

#define MAX_DEFAULTCHAR 2
#define MAX_LEADBYTES 12

#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_NEUTRAL 0x0000

QXPLATFORM_API UINT WINAPI GetACP(void);
QXPLATFORM_API BOOL WINAPI IsDBCSLeadByte(BYTE TestChar);
QXPLATFORM_API BOOL WINAPI IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar);
QXPLATFORM_API int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags,
                                              LPCSTR lpMultiByteStr,
                                              int cbMultiByte,
                                              LPWSTR lpWideCharStr,
                                              int cchWideChar);
QXPLATFORM_API int WINAPI
WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                    int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                    LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);
