// The loader's side of a Windows image: reading the file, mapping it,
// binding its imports to the platform's own functions, and telling it of
// process and thread events through its TLS callbacks and entry point. The
// loader (loader.cpp) keeps the module records, the reference counts and the
// lock; this file knows only the image.
//
// Images run only in the 32-bit x86 build, whose calling conventions and
// structure layouts are Windows's; a 64-bit process refuses them with
// ERROR_BAD_EXE_FORMAT, as 64-bit Windows refuses a 32-bit library.
#pragma once
#include <windows.h>

#include <string>

namespace qxplatform {
namespace internal {

struct PeModule;

// True when the file starts as a PE image does ("MZ"); the loader then
// loads it as one instead of handing it to the system's dynamic linker.
bool IsPeFile(const std::string& path);

// Reads and maps the image at path. With resolveImports its imports are
// bound (each by library and name or ordinal: from a system library to the
// platform's own, from any other to what GetProcAddress finds in it once
// LoadLibraryA has loaded it, the module holding it; or the load fails with
// ERROR_PROC_NOT_FOUND / ERROR_MOD_NOT_FOUND and *failure naming every
// import nobody provides, as BindPeImports does); without, it is mapped
// only, as DONT_RESOLVE_DLL_REFERENCES asks.
// Nothing of the image runs yet. On failure nothing stays mapped.
DWORD LoadPeModule(const std::string& path, bool resolveImports,
                   PeModule** module, std::string* failure);

// The module handle: the address the image is mapped at, as on Windows.
HMODULE PeModuleHandle(const PeModule* module);

// Whether the loader calls the image at all: it has imports bound and is a
// DLL with an entry point or TLS callbacks.
bool PeModuleRuns(const PeModule* module);

// Tells the image of a process or thread event: its TLS callbacks, then its
// entry point, on attach; the entry point, then the callbacks, on detach.
// The calling thread gets its thread environment first. The result is the
// entry point's (TRUE when it has none).
BOOL NotifyPeModule(PeModule* module, DWORD reason, LPVOID reserved);

// The calling thread's copy of the image's implicit thread-local data, given
// as the thread starts whether or not the image hears of threads, and taken
// back as it ends. False when it cannot be made.
bool GivePeThreadData(PeModule* module);
void TakePeThreadData(PeModule* module);

// An export by name or, for an integer name (MAKEINTRESOURCEA), by ordinal.
// Null with *error ERROR_PROC_NOT_FOUND when there is none. An export that
// forwards to another library gives null with *error ERROR_SUCCESS and
// *forwarder naming the library and function (or ordinal), for the loader
// to follow; a forwarder that cannot be read is ERROR_PROC_NOT_FOUND.
struct PeModuleForwarder {
  std::string library;  // as written, without an extension
  std::string name;     // empty when by ordinal
  WORD ordinal = 0;
};
FARPROC FindPeModuleExport(const PeModule* module, LPCSTR name, DWORD* error,
                           PeModuleForwarder* forwarder);

// Unmaps the image, frees the record, then the libraries its imports
// loaded.
void UnloadPeModule(PeModule* module);

}  // namespace internal
}  // namespace qxplatform
