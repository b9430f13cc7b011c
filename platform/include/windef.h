// Base types of the native platform, with the sizes the Windows SDK gives
// them on a 32-bit system: LONG, DWORD and ULONG are 32 bits, WCHAR 16 bits.
// Pointer-sized types follow the host's pointer width. Windows aligns 64-bit
// members to 8 bytes on 32-bit x86 too, where the Linux ABI aligns them to
// 4; the structures that hold them say so with QX_ALIGN64.
//
// platform/ may hold only our implementation of the Win32 subset the product
// calls and the SDK-named headers that declare it; no product logic lives here.
#pragma once

#include <stddef.h>
#include <stdint.h>

// On 32-bit x86 the system's functions and COM methods use the Windows
// conventions, so that a Windows image calls the platform, and the platform
// calls it, exactly as on Windows: the callee pops its arguments (stdcall);
// only the variadic ones leave that to the caller (cdecl). On x86-64 there
// is one convention and these say nothing.
#if defined(__i386__)
#define WINAPI __attribute__((stdcall))
#define CALLBACK __attribute__((stdcall))
#define APIENTRY __attribute__((stdcall))
#define STDMETHODCALLTYPE __attribute__((stdcall))
#define STDAPICALLTYPE __attribute__((stdcall))
#define WINAPIV __attribute__((cdecl))
#else
#define WINAPI
#define CALLBACK
#define APIENTRY
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define WINAPIV
#endif
#define CONST const
#define VOID void

#ifdef __cplusplus
#define EXTERN_C extern "C"
#else
#define EXTERN_C extern
#endif

// Everything the platform library defines is visible to the product and the
// host; the product hides its own symbols and exports only its entry points.
#define QXPLATFORM_API EXTERN_C __attribute__((visibility("default")))

typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int BOOL;
typedef BOOL WINBOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef int16_t SHORT;
typedef unsigned int UINT;
typedef int INT;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef char16_t WCHAR;
// The alignment Windows gives a 64-bit member of a structure.
#define QX_ALIGN64 alignas(8)

typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t DWORD64;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef ULONG_PTR SIZE_T;
typedef LONG_PTR SSIZE_T;
typedef LONG HRESULT;
typedef LONG LSTATUS;
typedef DWORD LCID;
typedef WORD LANGID;
typedef float FLOAT;
typedef double DOUBLE;

typedef BOOL* PBOOL;
typedef BOOL* LPBOOL;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef LONG* LPLONG;
typedef ULONG* PULONG;
typedef WORD* LPWORD;
typedef UINT* PUINT;
typedef CHAR* LPSTR;
typedef CHAR* PSTR;
typedef const CHAR* LPCSTR;
typedef const CHAR* PCSTR;
typedef WCHAR* LPWSTR;
typedef WCHAR* PWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* PCWSTR;

typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef struct HWND__* HWND;
typedef struct HRSRC__* HRSRC;
typedef HANDLE HGLOBAL;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;

typedef LONG_PTR (*FARPROC)();

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef NULL
#ifdef __cplusplus
#define NULL nullptr
#else
#define NULL ((void*)0)
#endif
#endif

#define MAX_PATH 260

#define MAKEWORD(a, b) ((WORD)(((BYTE)(a)) | ((WORD)((BYTE)(b))) << 8))
#define LOWORD(l) ((WORD)((DWORD_PTR)(l)&0xffff))
#define HIWORD(l) ((WORD)((DWORD_PTR)(l) >> 16))
#define LOBYTE(w) ((BYTE)((DWORD_PTR)(w)&0xff))

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define UNREFERENCED_PARAMETER(p) ((void)(p))
