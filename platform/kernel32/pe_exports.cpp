// kernel32's exports that a Windows image may import, bound to the
// platform's own functions.
//
// InterlockedCompareExchangePointer and InterlockedExchangePointer are not
// here: 32-bit kernel32 does not export them (the SDK makes them the 32-bit
// forms), so no image imports them.
#include <windows.h>

#include "pe_exports.h"

namespace qxplatform {
namespace internal {
namespace {

const SystemExport kEntries[] = {
    // last error
    QX_SYSTEM_EXPORT(GetLastError),
    QX_SYSTEM_EXPORT(SetLastError),
    // private heaps
    QX_SYSTEM_EXPORT(HeapCreate),
    QX_SYSTEM_EXPORT(HeapDestroy),
    QX_SYSTEM_EXPORT(HeapAlloc),
    QX_SYSTEM_EXPORT(HeapReAlloc),
    QX_SYSTEM_EXPORT(HeapFree),
    QX_SYSTEM_EXPORT(HeapSize),
    QX_SYSTEM_EXPORT(GetProcessHeap),
    // virtual memory
    QX_SYSTEM_EXPORT(VirtualQuery),
    QX_SYSTEM_EXPORT(VirtualProtect),
    // critical sections
    QX_SYSTEM_EXPORT(InitializeCriticalSection),
    QX_SYSTEM_EXPORT(EnterCriticalSection),
    QX_SYSTEM_EXPORT(LeaveCriticalSection),
    QX_SYSTEM_EXPORT(DeleteCriticalSection),
    // interlocked
    QX_SYSTEM_EXPORT(InterlockedIncrement),
    QX_SYSTEM_EXPORT(InterlockedDecrement),
    QX_SYSTEM_EXPORT(InterlockedExchange),
    QX_SYSTEM_EXPORT(InterlockedCompareExchange),
    // version and processors
    QX_SYSTEM_EXPORT(GetVersionExA),
    QX_SYSTEM_EXPORT(GetSystemInfo),
    // loader
    QX_SYSTEM_EXPORT(LoadLibraryA),
    QX_SYSTEM_EXPORT(LoadLibraryExA),
    QX_SYSTEM_EXPORT(FreeLibrary),
    QX_SYSTEM_EXPORT(GetProcAddress),
    QX_SYSTEM_EXPORT(GetModuleFileNameA),
    QX_SYSTEM_EXPORT(GetModuleHandleA),
    QX_SYSTEM_EXPORT(DisableThreadLibraryCalls),
    // resources
    QX_SYSTEM_EXPORT(FindResourceA),
    QX_SYSTEM_EXPORT(LoadResource),
    QX_SYSTEM_EXPORT(LockResource),
    QX_SYSTEM_EXPORT(SizeofResource),
    // strings
    QX_SYSTEM_EXPORT(lstrlenA),
    QX_SYSTEM_EXPORT(lstrlenW),
    QX_SYSTEM_EXPORT(lstrcmpiA),
    QX_SYSTEM_EXPORT(lstrcmpA),
    // environment
    QX_SYSTEM_EXPORT(ExpandEnvironmentStringsA),
    // threads and time
    QX_SYSTEM_EXPORT(GetCurrentThreadId),
    QX_SYSTEM_EXPORT(GetCurrentProcessId),
    QX_SYSTEM_EXPORT(Sleep),
    // code pages
    QX_SYSTEM_EXPORT(GetACP),
    QX_SYSTEM_EXPORT(IsDBCSLeadByte),
    QX_SYSTEM_EXPORT(IsDBCSLeadByteEx),
    QX_SYSTEM_EXPORT(MultiByteToWideChar),
    QX_SYSTEM_EXPORT(WideCharToMultiByte),
};

}  // namespace

QX_SYSTEM_EXPORT_TABLE(kKernel32Exports, "kernel32", kEntries);

}  // namespace internal
}  // namespace qxplatform
