// Module resources. Reading resources out of a loaded module is not provided
// yet: every lookup reports that the module has no resource of the type
// asked for, and the handles those lookups would give are refused.
#include <windows.h>

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
  (void)hModule;
  (void)lpName;
  (void)lpType;
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

// No resource handle can exist, so whatever is passed here is not one.
HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
  (void)hModule;
  (void)hResInfo;
  SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
  return nullptr;
}

LPVOID WINAPI LockResource(HGLOBAL hResData) {
  (void)hResData;
  return nullptr;
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  (void)hModule;
  (void)hResInfo;
  SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
  return 0;
}
