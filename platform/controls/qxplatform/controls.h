// Controls of the native platform that have no Win32 counterpart: what a host
// sets up before it loads a library (code page, registry file, reported
// version) and what tests use to reach failure paths (fail the Nth heap or
// task allocation, a registry create or close, a conversion to UTF-16, make
// a key refuse full access, force a launch result) and to check that nothing
// leaked.
//
// Counters are process-wide. "Fail at n" means: the n-th matching call from
// now on fails (n = 1 is the very next one); 0 switches the failure off. A
// failure fires once, then the control is off again.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <optional>
#include <string>

namespace qxplatform {

#define QXCONTROL __attribute__((visibility("default")))

// ---- system information ---------------------------------------------------
// What GetVersionExA reports (default: NT family 6.1) and what GetSystemInfo
// reports as the processor count (default: the machine's).
QXCONTROL void SetVersion(DWORD platformId, DWORD major, DWORD minor);
QXCONTROL void SetProcessorCount(DWORD count);

// ---- code page -----------------------------------------------------------
// Chooses the ANSI code page (CP_ACP). 1252 and 932 are supported; returns
// false and keeps the current one for any other.
QXCONTROL bool SetAnsiCodePage(UINT codePage);

// ---- failure injection ----------------------------------------------------
QXCONTROL void FailHeapAllocAt(long n);   // HeapAlloc and HeapReAlloc
QXCONTROL void FailHeapCreateAt(long n);  // HeapCreate
QXCONTROL void FailTaskAllocAt(long n);   // CoTaskMem*, SysAlloc*
// RegCreateKeyExA: every call counts; the failing one returns
// ERROR_CANTWRITE, creates nothing and sets *phkResult to null.
QXCONTROL void FailRegCreateAt(long n);
// RegCloseKey on an open handle (closing a predefined root does not count):
// the failing close returns ERROR_INVALID_HANDLE and the handle stays open,
// still counted by OpenRegistryHandles, so a caller that drops it shows up.
QXCONTROL void FailRegCloseAt(long n);
// The key root\path (created if missing) refuses any open or create that
// asks for more than read access: ERROR_ACCESS_DENIED; it cannot get new
// subkeys or be deleted either. The mark belongs to the key: it goes when
// the key is deleted or the store is reset or loaded.
QXCONTROL void DenyWriteAccess(HKEY root, const char* path, bool deny);
// MultiByteToWideChar: the failing call converts nothing, returns 0 and
// sets lastError as the last error, 0 included: a failure that gives no
// reason, which a caller must still report as a failure.
QXCONTROL void FailMultiByteToWideCharAt(long n, DWORD lastError);
// ShellExecuteA returns this value without starting anything; a negative
// value switches the override off.
QXCONTROL void ForceShellExecuteResult(INT_PTR result);
// Clears every control above and restores the defaults.
QXCONTROL void ResetControls();

// ---- leak accounting -------------------------------------------------------
QXCONTROL long LiveHeapBlocks();  // blocks allocated in private heaps
QXCONTROL long LiveHeaps();       // heaps created and not destroyed
QXCONTROL long LiveTaskBlocks();  // task allocator blocks and BSTRs
QXCONTROL long OpenRegistryHandles();
QXCONTROL long ShellLaunchCount();  // programs actually started

// ---- Windows images ----------------------------------------------------------
// While on, the loader binds a Windows image's calls into the platform
// through stubs that check, after each call, that the callee popped the
// argument bytes the image pushed (a function declared with the wrong
// calling convention or arguments), count each mismatch and put the stack
// back as the image expects it. It applies to images loaded from then on.
// Off by default; QX_CHECK_IMPORT_STACKS=1 in the environment turns it on
// for a whole run, and ResetControls goes back to what the environment says.
QXCONTROL void CheckImportStacks(bool on);
// Mismatches found by all stubs since the process started.
QXCONTROL long ImportStackMismatches();

// ---- shell launch -----------------------------------------------------------
// What the last ShellExecuteA call asked for, whatever came of it (a forced
// result, a failure or a start). Texts are kept as passed, in the ANSI code
// page; a null pointer is no text at all, apart from an empty one.
struct LaunchRecord {
  bool made = false;  // no call since the process started or ResetControls
  HWND window = nullptr;
  std::optional<std::string> verb;
  std::optional<std::string> file;
  std::optional<std::string> parameters;
  std::optional<std::string> directory;
  INT showCommand = 0;
};
QXCONTROL LaunchRecord LastLaunch();

// ---- registry store ---------------------------------------------------------
// Empties all four trees.
QXCONTROL void ResetRegistry();
// A registry file holds at most 64 MiB of text and 1,000,000 keys.
//
// Replaces the store with a "Windows Registry Editor Version 5.00" file
// (UTF-8 or UTF-16LE with BOM) or a "REGEDIT4" one (as ImportRegistryText
// reads it), read a piece at a time. A missing file is an
// empty registry. Refused: anything but a regular file, a file over the
// bounds, text the import would refuse, and a saved file cut short (it lacks
// the closing line its mark calls for). On error the store is unchanged and
// *error says why.
QXCONTROL bool LoadRegistryFile(const char* path, std::string* error);
// Writes the whole store to path: a temporary file beside it, then rename.
// The file starts with a comment that marks it as saved whole and ends with
// a closing comment line. A store over the bounds is not written.
QXCONTROL bool SaveRegistryFile(const char* path, std::string* error);
// Makes this process the only one working on the registry file at path
// until it exits: takes an exclusive lock on "<path>.lock", waiting while
// another process holds it, so that two processes never load the same file
// and then each write back their own changes over the other's. Taking it
// again for the same path does nothing. A path that exists but is not a
// regular file (a directory, a FIFO, a device) is refused before anything is
// made beside it. The lock file has the registry
// file's mode and is locked through a read-only descriptor, so every user
// who may write the registry can take it. Only where the lock file can be
// neither opened nor created and the directory cannot be written (a
// read-only file system, say) can nobody write the registry file either,
// and the call succeeds without a lock; any other failure is an error.
QXCONTROL bool LockRegistryFile(const char* path, std::string* error);
// Merges .reg text into the store, as importing it with regedit does. The
// text is a .reg file's bytes as they are: UTF-8 with or without a byte-order
// mark, or UTF-16LE with one; UTF-16 cut in half or holding an unpaired
// surrogate, and text that starts with two marks, are refused, and so is
// text that would take the registry past the bounds of a registry file.
// "REGEDIT4" text without a mark is in the current ANSI code page, and in
// any encoding its string data written as hex (hex(1), hex(2), hex(7)) is
// ANSI bytes, stored as UTF-16; bytes that are no text in the code page are
// refused.
// Nothing is merged unless all of it can be.
QXCONTROL bool ImportRegistryText(const std::string& text, std::string* error);
// The whole store, or one key and everything below it (for example
// "HKEY_CLASSES_ROOT\\CLSID"; the short root names work too), as .reg text
// in UTF-8.
QXCONTROL bool ExportRegistryText(const char* key, std::string* out,
                                  std::string* error);
// True when the store has changed since it was loaded, saved or reset.
QXCONTROL bool RegistryChanged();

// ---- type libraries
// ---------------------------------------------------------- A type library
// from bytes in memory, as LoadTypeLib reads a .tlb file or a TYPELIB resource,
// with the same statuses; for fuzzing and for tests that damage a library on
// purpose.
QXCONTROL HRESULT LoadTypeLibFromMemory(const void* data, size_t size,
                                        ITypeLib** library);
// Calls of LoadRegTypeLib, and of ITypeInfo::GetIDsOfNames on any type
// information, since the controls were last reset: what a caller's caching
// saves shows here.
QXCONTROL long RegisteredTypeLibLoads();
QXCONTROL long TypeInfoNameLookups();
// ITypeInfo::GetNames for one function, by its index as GetFuncDesc numbers
// it rather than by member id: its name, then its parameters' names as that
// description lists them, up to the first without a name. A property's get
// and put share their member id, so GetNames names only one of them. info
// must be the platform's own type information (E_NOINTERFACE otherwise);
// other failures are GetNames's.
QXCONTROL HRESULT GetFuncNames(ITypeInfo* info, UINT index, BSTR* names,
                               UINT maxNames, UINT* count);

#undef QXCONTROL

}  // namespace qxplatform
