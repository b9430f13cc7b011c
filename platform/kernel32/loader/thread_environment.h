// What a thread needs before it runs code of a Windows image: its Thread
// Environment Block, which Windows code reaches through %fs, the loader's
// announcement of threads that start and end (DLL_THREAD_ATTACH and
// DLL_THREAD_DETACH), and checked calls from an image into the platform.
//
// All of it is 32-bit x86 only: images run only there (pe_module.h). In a
// 64-bit process the functions exist so that callers build, and do nothing:
// EnsureThreadEnvironment fails with ERROR_NOT_SUPPORTED, a checked thunk is
// the target itself, and no hook ever runs.
//
// The block is one page laid out as 32-bit Windows lays out its NT_TIB and
// TEB, as far as compilers and start-up code read it:
//
//   0x00 ExceptionList              0xFFFFFFFF: the end of the chain
//   0x04 StackBase                  the top of the thread's stack
//   0x08 StackLimit                 its lowest address
//   0x18 Self                       the block's own address
//   0x20 ClientId.UniqueProcess     GetCurrentProcessId
//   0x24 ClientId.UniqueThread      GetCurrentThreadId
//   0x2C ThreadLocalStoragePointer  see ThreadLocalStorageSlots below
//   0x30 ProcessEnvironmentBlock    one zeroed page for the process
//
// The page after it belongs to the platform (the segment covers both, so the
// checked thunks reach it through %fs too): who owns the block, the thunks'
// own small stack, their mismatch count, and the array 0x2C starts out
// pointing at.
#pragma once
#include <windows.h>

namespace qxplatform {
namespace internal {

// Tests reach these through the shared library.
#define QX_THREAD_ENVIRONMENT_API __attribute__((visibility("default")))

// Gives the calling thread its own block, if it has none yet, and loads %fs
// with it. Cheap once done. The block goes back when the thread ends, after
// %fs has been cleared. False, with *error set, when no block can be made
// (no memory, or the kernel gives no descriptor entry).
QX_THREAD_ENVIRONMENT_API bool EnsureThreadEnvironment(DWORD* error);

// The calling thread's block; null when it has none.
QX_THREAD_ENVIRONMENT_API void* CurrentThreadEnvironment();

// The process's one PEB page (zeroed, BeingDebugged 0), for the loader to
// fill the fields it wants an image to see: only ProcessHeap (at 0x18,
// QX_PEB_PROCESS_HEAP), which GetProcessHeap reads on Windows. The rest stays
// zero; ImageBaseAddress (0x08) is the executable's base on Windows, and this
// process's executable is no Windows image, so it stays null. Null in a
// 64-bit process or when it cannot be made.
QX_THREAD_ENVIRONMENT_API void* ProcessEnvironment();

// ThreadLocalStoragePointer points at an array of kThreadLocalStorageSlots
// null pointers that lives as long as the block: a loader running an image's
// implicit TLS stores the thread's copy of the image's data at [the image's
// _tls_index]. The calling thread's array, making its block first; null when
// that fails.
constexpr DWORD kThreadLocalStorageSlots = 16;
QX_THREAD_ENVIRONMENT_API void** ThreadLocalStorageSlots();

// The loader's thread notifications, set once it has an image that wants to
// hear of threads. Every thread started afterwards with pthread_create (and
// so std::thread) gets its block, then calls started() before its start
// routine, and ending() when the routine returns or the thread calls
// pthread_exit, before any thread_local object of the thread is destroyed.
// A thread keeps the hooks it started with. Null hooks: threads start as
// the system starts them.
QX_THREAD_ENVIRONMENT_API void SetThreadStartHooks(void (*started)(),
                                                   void (*ending)());

// A stub an image's import can be bound to instead of target: it calls
// target with the stack exactly as the image set it up, then checks that the
// callee popped argumentBytes (stdcall; 0 for cdecl), as the export's
// declared type says it does. A mismatch is counted (ImportStackMismatches)
// and the stack pointer put where the image expects it, so that the image
// goes on. eax and edx come back as the callee left them; ecx does not
// (neither convention keeps it). Stubs are kept for the life of the process
// and shared between images: the same target and argumentBytes give the same
// stub. Null when no memory can be had for one.
//
// The stub keeps what it needs to return on a small stack in the calling
// thread's block, giving the thread its block if needed; when that cannot be
// done, or calls nest deeper than that stack holds, it calls target
// unchecked.
QX_THREAD_ENVIRONMENT_API void* MakeCheckedImportThunk(void* target,
                                                       WORD argumentBytes);

// Whether the loader binds imports through checked stubs: CheckImportStacks,
// or by default QX_CHECK_IMPORT_STACKS=1 in the environment.
QX_THREAD_ENVIRONMENT_API bool ImportStackCheckingEnabled();
// Whether the environment asks for the whole run to be checked
// (QX_CHECK_IMPORT_STACKS=1), whatever CheckImportStacks said since.
bool ImportStackCheckingByEnvironment();
void SetImportStackChecking(bool on);
void ResetImportStackChecking();  // back to the environment's default
// Mismatches every checked stub of the process has found so far.
long CountImportStackMismatches();

#undef QX_THREAD_ENVIRONMENT_API

}  // namespace internal
}  // namespace qxplatform
