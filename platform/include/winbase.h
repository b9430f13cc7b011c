// Kernel surface of the native platform: private heaps, virtual memory
// queries and protection, critical sections, interlocked counters, version
// and processor information, the loader, module resources, last error and
// the lstr* string helpers.
#pragma once
#include <windef.h>
#include <winerror.h>

// ---- last error -----------------------------------------------------------
QXPLATFORM_API DWORD WINAPI GetLastError(void);
QXPLATFORM_API void WINAPI SetLastError(DWORD dwErrCode);

// ---- private heaps --------------------------------------------------------
#define HEAP_NO_SERIALIZE 0x00000001
#define HEAP_GROWABLE 0x00000002
#define HEAP_GENERATE_EXCEPTIONS 0x00000004
#define HEAP_ZERO_MEMORY 0x00000008
#define HEAP_REALLOC_IN_PLACE_ONLY 0x00000010

QXPLATFORM_API HANDLE WINAPI HeapCreate(DWORD flOptions, SIZE_T dwInitialSize,
                                        SIZE_T dwMaximumSize);
QXPLATFORM_API BOOL WINAPI HeapDestroy(HANDLE hHeap);
QXPLATFORM_API LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags,
                                       SIZE_T dwBytes);
QXPLATFORM_API LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD dwFlags,
                                         LPVOID lpMem, SIZE_T dwBytes);
QXPLATFORM_API BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
QXPLATFORM_API SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD dwFlags,
                                      LPCVOID lpMem);
QXPLATFORM_API HANDLE WINAPI GetProcessHeap(void);

// ---- virtual memory -------------------------------------------------------
#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_WRITECOPY 0x08
#define PAGE_EXECUTE 0x10
#define PAGE_EXECUTE_READ 0x20
#define PAGE_EXECUTE_READWRITE 0x40
#define PAGE_EXECUTE_WRITECOPY 0x80
#define PAGE_GUARD 0x100
#define PAGE_NOCACHE 0x200
#define PAGE_WRITECOMBINE 0x400

#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_DECOMMIT 0x00004000
#define MEM_RELEASE 0x00008000
#define MEM_FREE 0x00010000
#define MEM_PRIVATE 0x00020000
#define MEM_MAPPED 0x00040000
#define MEM_RESET 0x00080000
#define MEM_TOP_DOWN 0x00100000
#define MEM_IMAGE 0x01000000

typedef struct _MEMORY_BASIC_INFORMATION {
  PVOID BaseAddress;
  PVOID AllocationBase;
  DWORD AllocationProtect;
  SIZE_T RegionSize;
  DWORD State;
  DWORD Protect;
  DWORD Type;
} MEMORY_BASIC_INFORMATION, *PMEMORY_BASIC_INFORMATION;

// Every mapping of the process counts as committed, a mapping without access
// as PAGE_NOACCESS; address space that nothing maps is MEM_FREE. PAGE_GUARD,
// PAGE_NOCACHE and PAGE_WRITECOMBINE are refused with ERROR_NOT_SUPPORTED.
QXPLATFORM_API SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress,
                                          PMEMORY_BASIC_INFORMATION lpBuffer,
                                          SIZE_T dwLength);
QXPLATFORM_API BOOL WINAPI VirtualProtect(LPVOID lpAddress, SIZE_T dwSize,
                                          DWORD flNewProtect,
                                          PDWORD lpflOldProtect);

// ---- critical sections ----------------------------------------------------
// Opaque storage for the platform's recursive mutex, of the size and
// alignment Windows gives a critical section (24 bytes on 32-bit x86, 40 on
// x86-64): a Windows image embeds critical sections in its own structures.
typedef struct _RTL_CRITICAL_SECTION {
  alignas(void*) unsigned char Opaque[sizeof(void*) == 4 ? 24 : 40];
} RTL_CRITICAL_SECTION, CRITICAL_SECTION, *PCRITICAL_SECTION,
    *LPCRITICAL_SECTION;

QXPLATFORM_API void WINAPI
InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
QXPLATFORM_API void WINAPI
EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
QXPLATFORM_API void WINAPI
LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
QXPLATFORM_API void WINAPI
DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// ---- interlocked ----------------------------------------------------------
QXPLATFORM_API LONG WINAPI InterlockedIncrement(LONG volatile* Addend);
QXPLATFORM_API LONG WINAPI InterlockedDecrement(LONG volatile* Addend);
QXPLATFORM_API LONG WINAPI InterlockedExchange(LONG volatile* Target,
                                               LONG Value);
QXPLATFORM_API LONG WINAPI InterlockedCompareExchange(LONG volatile* Dest,
                                                      LONG Exchange,
                                                      LONG Comperand);
// Pointer-sized forms, for publishing a pointer that other threads read
// without a lock.
QXPLATFORM_API PVOID WINAPI
InterlockedCompareExchangePointer(PVOID volatile* Destination, PVOID Exchange,
                                  PVOID Comperand);
QXPLATFORM_API PVOID WINAPI InterlockedExchangePointer(PVOID volatile* Target,
                                                       PVOID Value);

// ---- version and processors -----------------------------------------------
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *POSVERSIONINFOA, *LPOSVERSIONINFOA;
typedef OSVERSIONINFOA OSVERSIONINFO;
typedef LPOSVERSIONINFOA LPOSVERSIONINFO;

typedef struct _OSVERSIONINFOEXA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
} OSVERSIONINFOEXA, *POSVERSIONINFOEXA, *LPOSVERSIONINFOEXA;

QXPLATFORM_API BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);

typedef struct _SYSTEM_INFO {
  union {
    DWORD dwOemId;
    struct {
      WORD wProcessorArchitecture;
      WORD wReserved;
    };
  };
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

QXPLATFORM_API void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);

// ---- loader ---------------------------------------------------------------
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define DONT_RESOLVE_DLL_REFERENCES 0x00000001
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008

QXPLATFORM_API HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
QXPLATFORM_API HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile,
                                             DWORD dwFlags);
QXPLATFORM_API BOOL WINAPI FreeLibrary(HMODULE hLibModule);
QXPLATFORM_API FARPROC WINAPI GetProcAddress(HMODULE hModule,
                                             LPCSTR lpProcName);
QXPLATFORM_API DWORD WINAPI GetModuleFileNameA(HMODULE hModule,
                                               LPSTR lpFilename, DWORD nSize);
QXPLATFORM_API HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
QXPLATFORM_API BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule);

// ---- resources ------------------------------------------------------------
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define RT_STRING MAKEINTRESOURCE(6)
#define RT_VERSION MAKEINTRESOURCE(16)

QXPLATFORM_API HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName,
                                          LPCSTR lpType);
QXPLATFORM_API HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo);
QXPLATFORM_API LPVOID WINAPI LockResource(HGLOBAL hResData);
QXPLATFORM_API DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo);

// ---- strings --------------------------------------------------------------
QXPLATFORM_API int WINAPI lstrlenA(LPCSTR lpString);
QXPLATFORM_API int WINAPI lstrlenW(LPCWSTR lpString);
QXPLATFORM_API int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2);
QXPLATFORM_API int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2);

// ---- environment ----------------------------------------------------------
QXPLATFORM_API DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst,
                                                      DWORD nSize);

// ---- threads and time -----------------------------------------------------
QXPLATFORM_API DWORD WINAPI GetCurrentThreadId(void);
QXPLATFORM_API DWORD WINAPI GetCurrentProcessId(void);
QXPLATFORM_API void WINAPI Sleep(DWORD dwMilliseconds);
