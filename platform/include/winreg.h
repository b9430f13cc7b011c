// The registry's ANSI entry points, predefined root keys, access rights and
// value types.
#pragma once
#include <windef.h>

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))
#define HKEY_PERFORMANCE_DATA ((HKEY)(ULONG_PTR)((LONG)0x80000004))
#define HKEY_CURRENT_CONFIG ((HKEY)(ULONG_PTR)((LONG)0x80000005))
#define HKEY_DYN_DATA ((HKEY)(ULONG_PTR)((LONG)0x80000006))

#define DELETE 0x00010000L
#define READ_CONTROL 0x00020000L
#define WRITE_DAC 0x00040000L
#define WRITE_OWNER 0x00080000L
#define SYNCHRONIZE 0x00100000L
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_EXECUTE READ_CONTROL
#define STANDARD_RIGHTS_REQUIRED 0x000F0000L
#define STANDARD_RIGHTS_ALL 0x001F0000L
#define MAXIMUM_ALLOWED 0x02000000L
#define GENERIC_READ 0x80000000L
#define GENERIC_WRITE 0x40000000L
#define GENERIC_ALL 0x10000000L

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_32KEY 0x0200
#define KEY_WOW64_64KEY 0x0100
#define KEY_READ                                                      \
  ((STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | \
    KEY_NOTIFY) &                                                     \
   (~SYNCHRONIZE))
#define KEY_WRITE                                                 \
  ((STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & \
   (~SYNCHRONIZE))
#define KEY_EXECUTE ((KEY_READ) & (~SYNCHRONIZE))
#define KEY_ALL_ACCESS                                         \
  ((STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE |    \
    KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | \
    KEY_CREATE_LINK) &                                         \
   (~SYNCHRONIZE))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_RESERVED 0x00000000L
#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

QXPLATFORM_API LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey,
                                            DWORD ulOptions, REGSAM samDesired,
                                            PHKEY phkResult);
QXPLATFORM_API LSTATUS WINAPI RegCreateKeyExA(
    HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
    REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes,
    PHKEY phkResult, LPDWORD lpdwDisposition);
QXPLATFORM_API LSTATUS WINAPI RegCloseKey(HKEY hKey);
QXPLATFORM_API LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
QXPLATFORM_API LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
QXPLATFORM_API LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex,
                                            LPSTR lpName, LPDWORD lpcchName,
                                            LPDWORD lpReserved, LPSTR lpClass,
                                            LPDWORD lpcchClass,
                                            PFILETIME lpftLastWriteTime);
QXPLATFORM_API LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex,
                                            LPSTR lpValueName,
                                            LPDWORD lpcchValueName,
                                            LPDWORD lpReserved, LPDWORD lpType,
                                            LPBYTE lpData, LPDWORD lpcbData);
QXPLATFORM_API LSTATUS WINAPI RegQueryInfoKeyA(
    HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
    LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
    LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
    LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);
QXPLATFORM_API LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName,
                                               LPDWORD lpReserved,
                                               LPDWORD lpType, LPBYTE lpData,
                                               LPDWORD lpcbData);
QXPLATFORM_API LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName,
                                             DWORD Reserved, DWORD dwType,
                                             const BYTE* lpData, DWORD cbData);
// Maps a predefined key (HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
// HKEY_LOCAL_MACHINE or HKEY_USERS) onto an open key for the whole process,
// or back onto itself with a null hNewHKey.
QXPLATFORM_API LSTATUS WINAPI RegOverridePredefKey(HKEY hKey, HKEY hNewHKey);
