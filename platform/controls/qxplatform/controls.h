// Controls of the native platform that have no Win32 counterpart: what a host
// sets up before it loads a library (code page, registry database, reported
// version), what it reads when a load is refused (the reason behind the last
// error), and what tests use to reach failure paths (fail the Nth heap or
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

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace qxplatform {

#define QXCONTROL __attribute__((visibility("default")))

// ---- system information -----------------------------------------------------
// What GetVersionExA reports (default: NT family 6.1) and what GetSystemInfo
// reports as the processor count (default: the machine's).
QXCONTROL void SetVersion(DWORD platformId, DWORD major, DWORD minor);
QXCONTROL void SetProcessorCount(DWORD count);

// ---- code page --------------------------------------------------------------
// Chooses the ANSI code page (CP_ACP). 1252 and 932 are supported; returns
// false and keeps the current one for any other.
QXCONTROL bool SetAnsiCodePage(UINT codePage);

// ---- failure injection ------------------------------------------------------
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
// subkeys or be deleted either, nor can a tree holding it. The mark belongs
// to the key: it goes when the key is deleted or the store is reset or
// loaded. Missing keys are made as RegCreateKeyExA would make them
// (non-volatile), under the same rules: the result says why they could not
// be (ERROR_ACCESS_DENIED below a marked key, ERROR_CHILD_MUST_BE_VOLATILE
// below a volatile one), and then nothing is made or marked.
QXCONTROL LSTATUS DenyWriteAccess(HKEY root, const char* path, bool deny);
// The process runs as a standard user (true) or as an administrator (false,
// as it starts): a standard user's writes to HKEY_LOCAL_MACHINE's tree (and
// so to the machine's classes, through HKEY_CLASSES_ROOT too) fail with
// ERROR_ACCESS_DENIED and change nothing, as do opens of its keys for
// writing. ResetControls makes the process an administrator again and lifts
// every RegOverridePredefKey mapping.
QXCONTROL void SetStandardUser(bool standard);
// Every transaction of the registry store counts, read or write, whatever
// starts it (an entry point, an import or export, the provider probe, a
// registry control); the failing one does not begin and its caller fails
// with status, as when the database is locked past its timeout
// (ERROR_LOCK_VIOLATION) or damaged (ERROR_BADDB).
QXCONTROL void FailRegistryTransactionAt(long n, LSTATUS status);
// How long, in milliseconds, a registry write waits for another process
// that holds the database's write lock (20 s unless set; 0: not at all)
// before it fails with ERROR_LOCK_VIOLATION. A process whose write waited
// that long and failed tries its next write once without waiting, so a
// command of many writes fails within one wait, not one per write; the
// first write that gets the lock brings the wait back. Opening a database
// file waits as long for the lock of another process making it.
QXCONTROL void SetRegistryBusyTimeout(DWORD ms);
// The process ends at once, with _exit(kAbortedAfterRegistryCommit), right
// after the n-th registry write from now commits: no destructor, no flush,
// the database as a crash at that point leaves it. Every committed write
// counts, whatever made it (an entry point, an import, a control). A host
// started with QX_ABORT_AFTER_REGISTRY_COMMIT=n in its environment is armed
// so from its start, so a test can end a separate process at each commit
// of a run in turn.
constexpr int kAbortedAfterRegistryCommit = 86;
QXCONTROL void AbortAfterRegistryCommit(long n);
// MultiByteToWideChar: the failing call converts nothing, returns 0 and
// sets lastError as the last error, 0 included: a failure that gives no
// reason, which a caller must still report as a failure.
QXCONTROL void FailMultiByteToWideCharAt(long n, DWORD lastError);
// ShellExecuteA returns this value without starting anything; a negative
// value switches the override off.
QXCONTROL void ForceShellExecuteResult(INT_PTR result);
// Clears every control above and restores the defaults.
QXCONTROL void ResetControls();

// ---- leak accounting --------------------------------------------------------
QXCONTROL long LiveHeapBlocks();  // blocks allocated in private heaps
QXCONTROL long LiveHeaps();       // heaps created and not destroyed
// Each private heap alive, by handle, with the blocks allocated in it: where
// a library's allocations went, seen from outside the library.
QXCONTROL std::map<HANDLE, long> LiveHeapBlocksByHeap();
QXCONTROL long LiveTaskBlocks();  // task allocator blocks and BSTRs
QXCONTROL long OpenRegistryHandles();
QXCONTROL long ShellLaunchCount();  // programs actually started

// ---- Windows images ---------------------------------------------------------
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

// ---- loader -----------------------------------------------------------------
// Why the calling thread's last refused LoadLibraryA / LoadLibraryExA was
// refused, in full, where GetLastError has only the code (ERROR_MOD_NOT_FOUND,
// ERROR_PROC_NOT_FOUND, ERROR_BAD_EXE_FORMAT, ERROR_DLL_INIT_FAILED, ...):
// "cannot load <library>: <reason>". For a Windows image whose imports
// cannot be bound the reason names every missing import in table order, each
// marked "(no such library)" when the platform does not stand in for the
// library it names, or "(no such function)" when it does but lacks the
// function. A load that succeeds leaves the text alone, as it leaves the last
// error; ResetControls empties it (for the calling thread).
QXCONTROL std::string LastLoadFailure();

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
// Empties all four trees (of the database in use: the in-memory one a
// process starts with, or the file OpenRegistryDatabase named).
QXCONTROL void ResetRegistry();
// Makes the SQLite database at path the registry of this process from now
// on, shared with every other process that opens it: each change a registry
// call makes is committed, durable, when the call returns, and every call
// sees what any process committed before it. A missing file is made (an
// empty registry); an empty file becomes one. Refused, with *error saying
// why and nothing written: a directory, FIFO, device or socket, a .reg text
// file (the message says how to import it), or any other file that is not
// this registry's database, whatever its tables or marks (an existing file
// is looked at read-only first, so its bytes stay as they were). Processes
// making one new file at once all end up with the same registry. Handles
// opened before answer ERROR_KEY_DELETED.
QXCONTROL bool OpenRegistryDatabase(const char* path, std::string* error);
// Merges .reg text into the store, as importing it with regedit does. The
// text is a .reg file's bytes as they are: UTF-8 with or without a byte-order
// mark, or UTF-16LE with one; UTF-16 cut in half or holding an unpaired
// surrogate, and text that starts with two marks, are refused, and so is
// text over 1 GiB. The merge is one transaction: all of it or nothing.
// "REGEDIT4" text without a mark is in the current ANSI code page, and in
// any encoding its string data written as hex (hex(1), hex(2), hex(7)) is
// ANSI bytes, stored as UTF-16; bytes that are no text in the code page are
// refused.
// Nothing is merged unless all of it can be.
QXCONTROL bool ImportRegistryText(const std::string& text, std::string* error);
// The whole store, or one key and everything below it (for example
// "HKEY_CLASSES_ROOT\\CLSID"; the short root names work too), as .reg text
// in UTF-8. Held in memory whole, so refused (with a message) beyond
// 256 MiB: larger registries go to a file with ExportRegistryTextTo.
QXCONTROL bool ExportRegistryText(const char* key, std::string* out,
                                  std::string* error);
// The same text written to the open file descriptor fd in pieces as it is
// made, whatever its size, in little memory. A failed write (a full disk)
// stops it with *error saying why; what was written stays. *bytes (may be
// null) gets the text's size; *fitsImport (may be null) is false when the
// text is larger than ImportRegistryText takes (1 GiB), so it cannot be
// imported back whole.
QXCONTROL bool ExportRegistryTextTo(const char* key, int fd, uint64_t* bytes,
                                    bool* fitsImport, std::string* error);
// True when this process changed the store since it named its database or
// reset it.
QXCONTROL bool RegistryChanged();
// The boot this process tells the registry it runs in, instead of the
// kernel's (null: the kernel's again, as after ResetControls). Volatile keys
// belong to a boot: the first process of another boot to open a database
// file removes them, each with its whole tree, so naming a new boot and
// opening the file again is what a restart of the system does to it.
QXCONTROL void SetRegistryBootId(const char* boot);

// ---- type libraries --------------------------------------------------------
// A type library from bytes in memory, as LoadTypeLib reads a .tlb file or a
// TYPELIB resource, with the same statuses; for fuzzing and for tests that
// damage a library on purpose.
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
