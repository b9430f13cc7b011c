// Windows images in the loader: the file is read whole (it is small, and the
// mapper validates every structure against what it read), mapped, its
// imports bound to the platform's export tables (an import from any other
// library loads that library by the usual rules and takes what its
// GetProcAddress answers, forwarders followed), and then protected. Calls
// into the image always come with the calling thread's thread environment in
// place, since the image's start-up code reads it through %fs.
#include "pe_module.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "byte_source.h"
#include "held_libraries.h"
#include "kernel_internal.h"
#include "pe_exports.h"
#include "pe_format.h"
#include "pe_image.h"
#include "pe_thread_data.h"
#include "thread_environment.h"
#include "thread_environment_layout.h"

namespace qxplatform {
namespace internal {

struct PeModule {
  PeImage image;
  bool importsBound = false;
  int threadDataSlot = -1;  // its implicit thread-local data's; -1: none
  // The libraries loaded for its imports, one reference each, freed after
  // it is unmapped, the last loaded first.
  std::vector<HMODULE> libraries;
};

namespace {

typedef BOOL(WINAPI* ImageEntryPoint)(HINSTANCE, DWORD, LPVOID);
typedef void(WINAPI* TlsCallback)(PVOID, DWORD, PVOID);

#if defined(__i386__)
// Larger than any library this platform is meant to run, and a bound on what
// a damaged file can make the loader read.
constexpr uint64_t kLargestImageFile = 256u << 20;

// A process whose whole run is checked (QX_CHECK_IMPORT_STACKS=1, as the
// 32-bit build's test suites run every host) must not end quietly after an
// unbalanced call: the count is reported and the process fails.
constexpr int kUnbalancedStackExitCode = 70;

void ReportUnbalancedCallsAtExit() {
  const long mismatches = CountImportStackMismatches();
  if (mismatches == 0) return;
  fprintf(stderr,
          "qxplatform: %ld calls from Windows images into the platform left "
          "the stack unbalanced\n",
          mismatches);
  fflush(stderr);
  _exit(kUnbalancedStackExitCode);
}

void WatchCheckedRun() {
  static bool watching = false;
  if (watching || !ImportStackCheckingByEnvironment()) return;
  watching = true;
  atexit(ReportUnbalancedCallsAtExit);
}

// What an image may read of the process without asking: its heap, in the
// process environment block, where GetProcessHeap reads it on Windows.
void DescribeProcess() {
  auto* peb = static_cast<BYTE*>(ProcessEnvironment());
  if (peb == nullptr) return;
  HANDLE heap = GetProcessHeap();
  memcpy(peb + QX_PEB_PROCESS_HEAP, &heap, sizeof(heap));
}

// An import from a library the platform does not stand in for: the library
// is loaded by the usual rules (held for the module) and the import is what
// GetProcAddress finds there, following forwarders.
bool ResolveLibraryImport(PeModule* module, const PeImport& import,
                          uintptr_t* address, DWORD* error) {
  const HMODULE library = LoadLibraryA(import.library);
  if (library == nullptr) {
    const DWORD status = GetLastError();
    *error = status == ERROR_SUCCESS ? ERROR_MOD_NOT_FOUND : status;
    return false;
  }
  HoldLibrary(PeModuleHandle(module), library, &module->libraries);
  const LPCSTR name = import.name != nullptr ? import.name
                                             : MAKEINTRESOURCEA(import.ordinal);
  const FARPROC found = GetProcAddress(library, name);
  if (found == nullptr) {
    // A forwarder to a library that is missing says so; anything else is a
    // missing function.
    *error = GetLastError() == ERROR_MOD_NOT_FOUND ? ERROR_MOD_NOT_FOUND
                                                   : ERROR_PROC_NOT_FOUND;
    return false;
  }
  *address = reinterpret_cast<uintptr_t>(found);
  return true;
}

// Binds an import to the platform's own function or data; while import
// stacks are checked, functions go through a checking thunk.
bool ResolveImport(void* context, const PeImport& import, uintptr_t* address,
                   DWORD* error) {
  const SystemExportTable* table = FindSystemLibrary(import.library);
  if (table == nullptr)
    return ResolveLibraryImport(static_cast<PeModule*>(context), import,
                                address, error);
  const SystemExport* entry =
      FindSystemExport(*table, import.name, import.ordinal);
  if (entry == nullptr) {
    *error = ERROR_PROC_NOT_FOUND;
    return false;
  }
  void* target = const_cast<void*>(entry->address);
  if (entry->kind != ExportKind::kData && ImportStackCheckingEnabled()) {
    target = MakeCheckedImportThunk(target, entry->argumentBytes);
    if (target == nullptr) {
      *error = ERROR_NOT_ENOUGH_MEMORY;
      return false;
    }
  }
  *address = reinterpret_cast<uintptr_t>(target);
  return true;
}
#endif

void CallTlsCallbacks(PeModule* module, DWORD reason, LPVOID reserved) {
  for (uintptr_t callback : module->image.tlsCallbacks) {
    reinterpret_cast<TlsCallback>(callback)(module->image.base, reason,
                                            reserved);
  }
}

}  // namespace

bool IsPeFile(const std::string& path) {
  FileSource file;
  BYTE magic[2];
  return file.Open(path) == ERROR_SUCCESS &&
         file.Read(0, sizeof(magic), magic) &&
         StartsLikeDosHeader(magic, sizeof(magic));
}

DWORD LoadPeModule(const std::string& path, bool resolveImports,
                   PeModule** module, std::string* failure) {
  *module = nullptr;
#if !defined(__i386__)
  (void)path;
  (void)resolveImports;
  *failure = "a 32-bit Windows image cannot run in a 64-bit process";
  return ERROR_BAD_EXE_FORMAT;
#else
  FileSource file;
  DWORD status = file.Open(path);
  if (status != ERROR_SUCCESS) return status;
  if (file.Size() > kLargestImageFile) {
    *failure = "the file is larger than any image this loader takes";
    return ERROR_BAD_EXE_FORMAT;
  }
  std::vector<BYTE> bytes;
  if (!file.ReadBlock(0, file.Size(), &bytes))
    return ERROR_BAD_EXE_FORMAT;  // it shrank under the reader
  if (!LooksLikePeImage(bytes.data(), bytes.size())) {
    *failure = "the file is not a PE image";
    return ERROR_BAD_EXE_FORMAT;
  }
  if (resolveImports && ImportStackCheckingEnabled()) WatchCheckedRun();
  DescribeProcess();
  PeModule* loaded = new PeModule;
  status = MapPeImage(bytes.data(), bytes.size(), &loaded->image, failure);
  if (status == ERROR_SUCCESS && resolveImports) {
    status = BindPeImports(&loaded->image, ResolveImport, loaded, failure);
    if (status == ERROR_MOD_NOT_FOUND || status == ERROR_PROC_NOT_FOUND)
      *failure = "it imports what the platform does not provide: " + *failure;
    loaded->importsBound = status == ERROR_SUCCESS;
    // Before the protections: the index may lie in read-only data.
    if (status == ERROR_SUCCESS)
      status = AssignThreadDataSlot(loaded->image, &loaded->threadDataSlot);
  }
  if (status == ERROR_SUCCESS) status = ProtectPeImage(&loaded->image);
  if (status != ERROR_SUCCESS) {
    UnloadPeModule(loaded);
    return status;
  }
  NoteImageMapping(loaded->image.base, loaded->image.size);
  *module = loaded;
  return ERROR_SUCCESS;
#endif
}

HMODULE PeModuleHandle(const PeModule* module) {
  return reinterpret_cast<HMODULE>(module->image.base);
}

bool PeModuleRuns(const PeModule* module) {
  return module->importsBound &&
         (module->image.entryRva != 0 || !module->image.tlsCallbacks.empty());
}

BOOL NotifyPeModule(PeModule* module, DWORD reason, LPVOID reserved) {
  if (!PeModuleRuns(module)) return TRUE;
  DWORD error = ERROR_SUCCESS;
  // Without its thread environment the image's start-up code would read
  // another thread's, or fault.
  if (!EnsureThreadEnvironment(&error)) return FALSE;
  const bool attaching =
      reason == DLL_PROCESS_ATTACH || reason == DLL_THREAD_ATTACH;
  // The loading thread's thread-local data; later threads get theirs as they
  // start (GivePeThreadData).
  if (reason == DLL_PROCESS_ATTACH &&
      !GiveThreadData(module->image, module->threadDataSlot))
    return FALSE;
  if (attaching) CallTlsCallbacks(module, reason, reserved);
  BOOL result = TRUE;
  if (module->image.entryRva != 0) {
    auto entry = reinterpret_cast<ImageEntryPoint>(module->image.base +
                                                   module->image.entryRva);
    result = entry(PeModuleHandle(module), reason, reserved);
  }
  if (!attaching) CallTlsCallbacks(module, reason, reserved);
  return result;
}

FARPROC FindPeModuleExport(const PeModule* module, LPCSTR name, DWORD* error,
                           PeModuleForwarder* forwarder) {
  void* address = nullptr;
  const bool byOrdinal = IS_INTRESOURCE(name);
  const PeExportLookup found = FindPeExport(
      module->image, byOrdinal ? nullptr : name,
      byOrdinal ? static_cast<WORD>(reinterpret_cast<uintptr_t>(name)) : 0,
      &address);
  if (found == PeExportLookup::kForwarded) {
    PeForwarder read;
    if (!ReadPeForwarder(module->image, address, &read)) {
      *error = ERROR_PROC_NOT_FOUND;
      return nullptr;
    }
    forwarder->library = read.library;
    forwarder->name = read.name;
    forwarder->ordinal = read.ordinal;
    *error = ERROR_SUCCESS;
    return nullptr;
  }
  if (found != PeExportLookup::kFound) {
    *error = ERROR_PROC_NOT_FOUND;
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(address);
}

bool GivePeThreadData(PeModule* module) {
  return !module->importsBound ||
         GiveThreadData(module->image, module->threadDataSlot);
}

void TakePeThreadData(PeModule* module) {
  TakeThreadData(module->threadDataSlot);
}

void UnloadPeModule(PeModule* module) {
  if (module == nullptr) return;
  ReleaseThreadDataSlot(module->threadDataSlot);
  if (module->image.base != nullptr) ForgetImageMapping(module->image.base);
  UnmapPeImage(&module->image);
  const std::vector<HMODULE> libraries = module->libraries;
  delete module;
  ReleaseLibraries(libraries);
}

}  // namespace internal
}  // namespace qxplatform
