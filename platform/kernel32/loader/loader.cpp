// The module loader: LoadLibrary and its relatives, over dlopen for native
// libraries and over the platform's own image mapper for Windows images
// (pe_module.h). Each loaded library has one record that counts its loads
// and tells the library of the first load and the last free: a native
// library through its exported DllMain, a Windows image through its TLS
// callbacks and entry point. A native library's handle is its record, a
// Windows image's the address it is mapped at, as on Windows. Files loaded
// as data are only opened, never mapped as code; their handles carry the low
// bit, as data-file handles do on Windows. A refused load sets its code as
// the last error and its reason, in full, as the thread's last load failure
// (load_failure.h). The names of the system libraries
// (kernel32.dll, oleaut32.dll, ...) stand for this platform library, which
// implements them. A name reaches a file by the platform's rule for file
// names (platform_internal.h): the file named by its text in UTF-8, else the
// one named by its ANSI bytes as they are; GetModuleFileNameA gives back a
// name that reaches the same file. A name without an extension means a
// ".dll" file, as on Windows (library_names.h). An export that forwards to
// another library ("LIB.Function", "LIB.#ordinal") is followed: LIB is
// loaded by the usual rules and stays loaded as long as the image whose
// export named it.
#include <dlfcn.h>
#include <link.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "ascii_text.h"
#include "held_libraries.h"
#include "kernel_internal.h"
#include "library_names.h"
#include "load_failure.h"
#include "pe_exports.h"
#include "pe_module.h"
#include "platform_internal.h"
#include "thread_environment.h"

namespace {

typedef BOOL(WINAPI* DllEntryPoint)(HINSTANCE, DWORD, LPVOID);

constexpr char kEntryPointName[] = "DllMain";
constexpr DWORD kIgnoreCodeAuthzLevel = 0x00000010;
constexpr DWORD kAsImageResource = 0x00000020;
constexpr DWORD kAsDatafileExclusive = 0x00000040;
constexpr DWORD kSearchFlags = 0x00001F00;  // LOAD_LIBRARY_SEARCH_*
constexpr DWORD kDataFlags =
    LOAD_LIBRARY_AS_DATAFILE | kAsImageResource | kAsDatafileExclusive;
constexpr DWORD kLoadFlags = DONT_RESOLVE_DLL_REFERENCES | kDataFlags |
                             LOAD_WITH_ALTERED_SEARCH_PATH |
                             kIgnoreCodeAuthzLevel | kSearchFlags;
constexpr uintptr_t kDataHandleBit = 1;
// Windows passes a non-null reserved argument to DllMain when the process is
// ending rather than the library being freed.
const LPVOID kProcessEnding = reinterpret_cast<LPVOID>(1);

using qxplatform::internal::EqualIgnoringAsciiCase;
using qxplatform::internal::PeModule;
using qxplatform::internal::RefuseLoad;

struct Module {
  void* library = nullptr;    // dlopen handle; null for a data file or image
  PeModule* image = nullptr;  // a Windows image: mapped by this loader
  std::string path;           // absolute path as loaded
  long references = 0;
  bool pinned = false;  // the executable and this library: never unloaded
  bool threadCallsDisabled = false;
  bool detached = false;
  DllEntryPoint entry = nullptr;
  // Libraries loaded to follow this image's forwarders: one reference
  // each, given back when this one is unloaded.
  std::vector<HMODULE> forwardTargets;
};

// Forwarders may lead on to forwarders; a chain longer than this is taken
// for a loop.
constexpr int kLongestForwarderChain = 16;

// The loader lock is recursive: DllMain runs under it and may call back into
// the loader (or anything else) on the same thread.
struct Loader {
  std::recursive_mutex lock;
  std::vector<Module*> images;     // in load order
  std::vector<Module*> dataFiles;  // handles are address | kDataHandleBit
  Module* executable = nullptr;
  Module* platform = nullptr;
  bool exitHookInstalled = false;
  // Windows images being mapped and bound, so that a chain of imports that
  // leads back to one of them is refused instead of loading it again and
  // again.
  std::vector<std::string> binding;
};

Loader& State() {
  static Loader& loader = *new Loader;  // lives until the process ends
  return loader;
}

HMODULE Handle(const Module* module) {
  return module->image != nullptr
             ? qxplatform::internal::PeModuleHandle(module->image)
             : reinterpret_cast<HMODULE>(const_cast<Module*>(module));
}

// Whether the library hears of loads, frees and (images only) threads.
bool Runs(const Module* module) {
  return module->image != nullptr
             ? qxplatform::internal::PeModuleRuns(module->image)
             : module->entry != nullptr;
}

BOOL Notify(Module* module, DWORD reason, LPVOID reserved) {
  if (module->image != nullptr)
    return qxplatform::internal::NotifyPeModule(module->image, reason,
                                                reserved);
  return module->entry(Handle(module), reason, reserved);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// An absolute path with its directory resolved; empty when the directory
// does not exist.
std::string Absolute(const std::string& name) {
  std::string full = name;
  if (full.empty() || full[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) return std::string();
    full = std::string(cwd) + "/" + full;
  }
  size_t slash = full.rfind('/');
  std::string base = full.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") return std::string();
  std::string directory = slash == 0 ? "/" : full.substr(0, slash);
  char resolved[PATH_MAX];
  if (realpath(directory.c_str(), resolved) == nullptr) return std::string();
  std::string result = resolved;
  if (result.back() != '/') result += '/';
  return result + base;
}

bool IsFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  return length <= 0 ? std::string() : std::string(buffer, length);
}

Module* Executable(Loader& loader) {
  if (loader.executable == nullptr) {
    Module* module = new Module;
    module->library = dlopen(nullptr, RTLD_NOW);
    module->path = ExecutablePath();
    module->pinned = true;
    loader.executable = module;
  }
  return loader.executable;
}

Module* Platform(Loader& loader) {
  if (loader.platform == nullptr) {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&LoadLibraryA), &info) == 0 ||
        info.dli_fname == nullptr)
      return nullptr;
    std::string path = Absolute(info.dli_fname);
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return nullptr;
    Module* module = new Module;
    module->library = library;
    module->path = path;
    module->pinned = true;
    module->references = 1;
    loader.platform = module;
    loader.images.push_back(module);
  }
  return loader.platform;
}

// A system library this platform library stands in for, by the names an
// import may give it. msvcrt's table serves only Windows images: a native
// caller has the C runtime of its own system, and msvcrt.dll by name is a
// library like any other for it.
bool IsSystemLibraryName(const std::string& name) {
  const qxplatform::internal::SystemExportTable* table =
      qxplatform::internal::FindSystemLibrary(name);
  return table != nullptr && table != &qxplatform::internal::kMsvcrtExports;
}

Module* FindImage(Loader& loader, void* library) {
  for (Module* module : loader.images)
    if (module->library == library) return module;
  return nullptr;
}

Module* FindImageByPath(Loader& loader, const std::string& path) {
  for (Module* module : loader.images)
    if (module->path == path) return module;
  return nullptr;
}

// A loaded library whose file name (without directory) matches, as the
// loader finds an already-loaded library by name alone.
Module* FindImageByBaseName(Loader& loader, const std::string& name) {
  for (Module* module : loader.images)
    if (EqualIgnoringAsciiCase(BaseName(module->path), name))
      return module;
  return nullptr;
}

// A caller's ANSI name and the two file names it may stand for: its text in
// UTF-8 and its bytes as they are. A slash is the same byte in both (no
// code page has it as part of a character), so both are paths or neither.
struct Name {
  std::string utf8;
  std::string bytes;
  bool IsPath() const { return utf8.find('/') != std::string::npos; }
  bool Twofold() const { return bytes != utf8; }
};

Name NameOf(LPCSTR ansi) {
  Name name;
  name.bytes = qxplatform::internal::LibraryFileName(ansi);
  name.utf8 = qxplatform::internal::WideToUtf8(
      qxplatform::internal::AnsiToWide(name.bytes));
  return name;
}

Module* FindImageByBaseName(Loader& loader, const Name& name) {
  Module* module = FindImageByBaseName(loader, name.utf8);
  if (module == nullptr && name.Twofold())
    module = FindImageByBaseName(loader, name.bytes);
  return module;
}

Module* FindImageByPath(Loader& loader, const Name& name) {
  Module* module = FindImageByPath(loader, Absolute(name.utf8));
  if (module == nullptr && name.Twofold())
    module = FindImageByPath(loader, Absolute(name.bytes));
  return module;
}

Module* ImageFromHandle(Loader& loader, HMODULE handle) {
  if (handle == nullptr) return nullptr;
  if (loader.executable != nullptr && handle == Handle(loader.executable))
    return loader.executable;
  for (Module* module : loader.images)
    if (Handle(module) == handle) return module;
  return nullptr;
}

Module* DataFromHandle(Loader& loader, HMODULE handle) {
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if ((value & kDataHandleBit) == 0) return nullptr;
  Module* candidate = reinterpret_cast<Module*>(value & ~kDataHandleBit);
  for (Module* module : loader.dataFiles)
    if (module == candidate) return module;
  return nullptr;
}

void Forget(std::vector<Module*>* modules, Module* module) {
  for (auto it = modules->begin(); it != modules->end(); ++it) {
    if (*it == module) {
      modules->erase(it);
      return;
    }
  }
}

// At a normal process exit every library still loaded hears that the
// process is ending, the most recently loaded first. The real system ends
// every other thread before it says so; here they run on, possibly inside a
// library or holding the loader lock, and a library that cleaned up under
// them would pull their state away. So the libraries are told only when the
// exiting thread is the last one; otherwise nobody is: a library hearing of
// the process's end may not rely on cleaning up then anyway, and the system
// takes back its memory and handles with the process.
void DetachAtExit() {
  if (qxplatform::internal::OtherThreadsMayRun()) return;
  Loader& loader = State();
  std::lock_guard<std::recursive_mutex> guard(loader.lock);
  for (auto it = loader.images.rbegin(); it != loader.images.rend(); ++it) {
    Module* module = *it;
    if (!Runs(module) || module->detached) continue;
    module->detached = true;
    Notify(module, DLL_PROCESS_DETACH, kProcessEnding);
  }
}

// Windows tells every image that has not declined (DisableThreadLibraryCalls)
// of each thread that starts and ends, on that thread and under the loader
// lock: images in load order as a thread starts, in reverse as it ends.
// Native libraries are not told: their threads are the system's business.
// Every thread gets its copy of each image's thread-local data, whether or
// not the image hears of it.
bool HearsOfThreads(const Module* module) {
  return Runs(module) && !module->threadCallsDisabled && !module->detached;
}

void ThreadStarted() {
  Loader& loader = State();
  std::lock_guard<std::recursive_mutex> guard(loader.lock);
  for (Module* module : loader.images) {
    if (module->image == nullptr || module->detached) continue;
    qxplatform::internal::GivePeThreadData(module->image);
    if (HearsOfThreads(module)) Notify(module, DLL_THREAD_ATTACH, nullptr);
  }
}

void ThreadEnding() {
  Loader& loader = State();
  std::lock_guard<std::recursive_mutex> guard(loader.lock);
  for (auto it = loader.images.rbegin(); it != loader.images.rend(); ++it) {
    Module* module = *it;
    if (module->image == nullptr || module->detached) continue;
    if (HearsOfThreads(module)) Notify(module, DLL_THREAD_DETACH, nullptr);
    qxplatform::internal::TakePeThreadData(module->image);
  }
}

void InstallExitHook(Loader& loader) {
  if (!loader.exitHookInstalled) {
    loader.exitHookInstalled = true;
    atexit(DetachAtExit);
  }
}

// Takes a library that has been told it is detached out of the process,
// then lets go of what its forwarders loaded.
void Unload(Loader& loader, Module* module) {
  qxplatform::internal::ReleaseModuleResources(Handle(module));
  Forget(&loader.images, module);
  if (module->image != nullptr) {
    qxplatform::internal::UnloadPeModule(module->image);
  } else {
    dlclose(module->library);
  }
  const std::vector<HMODULE> targets = module->forwardTargets;
  delete module;
  qxplatform::internal::ReleaseLibraries(targets);
}

// Tells a library that has just been loaded that it is attached. One that
// refuses to start is told at once to shut down again and is unloaded.
bool Attach(Loader& loader, Module* module) {
  if (!Runs(module)) return true;
  InstallExitHook(loader);
  if (Notify(module, DLL_PROCESS_ATTACH, nullptr)) return true;
  Notify(module, DLL_PROCESS_DETACH, nullptr);
  const std::string path = module->path;
  Unload(loader, module);
  RefuseLoad(ERROR_DLL_INIT_FAILED, path,
             "its entry point refused to start (DLL_PROCESS_ATTACH answered "
             "FALSE)");
  return false;
}

// A Windows image: mapped here, not by the system's dynamic linker. The
// same file loaded again shares the one mapping.
HMODULE LoadWindowsImage(Loader& loader, const std::string& path,
                         bool callEntry) {
  if (Module* existing = FindImageByPath(loader, path)) {
    if (!existing->pinned) ++existing->references;
    return Handle(existing);
  }
  if (std::find(loader.binding.begin(), loader.binding.end(), path) !=
      loader.binding.end()) {
    RefuseLoad(ERROR_MOD_NOT_FOUND, path,
               "its imports lead back to it through other libraries, which "
               "this loader does not bind");
    return nullptr;
  }
  PeModule* image = nullptr;
  std::string failure;
  loader.binding.push_back(path);
  DWORD status =
      qxplatform::internal::LoadPeModule(path, callEntry, &image, &failure);
  loader.binding.pop_back();
  if (status != ERROR_SUCCESS) {
    // The reason goes with the code, so that it is not lost behind it.
    if (failure.empty())
      failure = "the file cannot be read (error " + std::to_string(status) + ")";
    RefuseLoad(status, path, failure);
    return nullptr;
  }
  Module* module = new Module;
  module->image = image;
  module->path = path;
  module->references = 1;
  loader.images.push_back(module);
  // From the first image on, every new thread gets its own thread
  // environment, whether or not an image wants to hear of it: any of them
  // may call into an image.
  qxplatform::internal::SetThreadStartHooks(ThreadStarted, ThreadEnding);
  if (!Attach(loader, module)) return nullptr;
  return Handle(module);
}

// The file a name refers to: a path is taken as it is; a bare name is looked
// for beside the executable, then in the current directory. Empty when
// neither has it.
std::string LocateFileNamed(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    std::string path = Absolute(name);
    return !path.empty() && IsFile(path) ? path : std::string();
  }
  std::string besideExecutable = Absolute(ExecutablePath());
  if (!besideExecutable.empty()) {
    besideExecutable =
        besideExecutable.substr(0, besideExecutable.rfind('/') + 1) + name;
    if (IsFile(besideExecutable)) return besideExecutable;
  }
  std::string inCurrent = Absolute(name);
  return !inCurrent.empty() && IsFile(inCurrent) ? inCurrent : std::string();
}

// The file by the name's UTF-8 form, else by its bytes.
std::string LocateFile(const Name& name) {
  std::string path = LocateFileNamed(name.utf8);
  if (path.empty() && name.Twofold()) path = LocateFileNamed(name.bytes);
  return path;
}

// Refuses a file that exists but that dlopen refused, with the code for its
// reason and the dynamic linker's own words.
void RefuseNativeLoad(const std::string& path) {
  const char* said = dlerror();
  const std::string reason =
      said != nullptr ? said : "the system's dynamic linker refused it";
  DWORD status = ERROR_BAD_EXE_FORMAT;
  if (reason.find("cannot open shared object file") != std::string::npos)
    status = ERROR_MOD_NOT_FOUND;  // a library it depends on is missing
  else if (reason.find("undefined symbol") != std::string::npos)
    status = ERROR_PROC_NOT_FOUND;  // an import it needs is missing
  RefuseLoad(status, path, reason);
}

std::string NotFoundReason(const Name& name) {
  return name.IsPath() ? "there is no such file"
                       : "there is no such file beside the executable, in "
                         "the current directory or on the system's library "
                         "path";
}

HMODULE LoadImage(Loader& loader, const Name& name, bool callEntry) {
  void* library = nullptr;
  std::string path = LocateFile(name);
  if (!path.empty() && qxplatform::internal::IsPeFile(path))
    return LoadWindowsImage(loader, path, callEntry);
  if (!path.empty()) {
    library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      RefuseNativeLoad(path);
      return nullptr;
    }
  } else if (!name.IsPath()) {
    // Last, the system's own library search.
    library = dlopen(name.utf8.c_str(), RTLD_NOW | RTLD_LOCAL);
    link_map* map = nullptr;
    if (library != nullptr && dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 &&
        map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0')
      path = Absolute(map->l_name);
  }
  if (library == nullptr || path.empty()) {
    if (library != nullptr) dlclose(library);
    RefuseLoad(ERROR_MOD_NOT_FOUND, name.utf8, NotFoundReason(name));
    return nullptr;
  }
  if (Module* existing = FindImage(loader, library)) {
    dlclose(library);  // the record already holds the library once
    if (!existing->pinned) ++existing->references;
    return Handle(existing);
  }
  Module* module = new Module;
  module->library = library;
  module->path = path;
  module->references = 1;
  if (callEntry) {
    module->entry =
        reinterpret_cast<DllEntryPoint>(dlsym(library, kEntryPointName));
  }
  loader.images.push_back(module);
  if (!Attach(loader, module)) return nullptr;
  return Handle(module);
}

// The file is opened to check that it can be read; no code in it runs.
HMODULE LoadDataFile(Loader& loader, const Name& name) {
  std::string path = LocateFile(name);
  if (path.empty()) {
    RefuseLoad(ERROR_MOD_NOT_FOUND, name.utf8, NotFoundReason(name));
    return nullptr;
  }
  if (access(path.c_str(), R_OK) != 0) {
    RefuseLoad(ERROR_MOD_NOT_FOUND, path, "the file cannot be read");
    return nullptr;
  }
  // A library already loaded as code serves data requests as well.
  if (Module* image = FindImageByPath(loader, path)) {
    if (!image->pinned) ++image->references;
    return Handle(image);
  }
  Module* module = new Module;
  module->path = path;
  module->references = 1;
  loader.dataFiles.push_back(module);
  return reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(module) |
                                   kDataHandleBit);
}

}  // namespace

HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile,
                              DWORD dwFlags) {
  if (lpLibFileName == nullptr || lpLibFileName[0] == '\0') {
    RefuseLoad(ERROR_INVALID_PARAMETER, "a library", "no name was given");
    return nullptr;
  }
  if (hFile != nullptr || (dwFlags & ~kLoadFlags) != 0) {
    RefuseLoad(ERROR_INVALID_PARAMETER, lpLibFileName,
               "hFile must be null and the flags LoadLibraryExA's own");
    return nullptr;
  }
  Loader& loader = State();
  std::lock_guard<std::recursive_mutex> guard(loader.lock);
  Platform(loader);  // so that a load of this library by path finds it
  const Name name = NameOf(lpLibFileName);
  if ((dwFlags & kDataFlags) != 0) return LoadDataFile(loader, name);
  if (!name.IsPath()) {
    if (IsSystemLibraryName(name.utf8)) {
      Module* platform = Platform(loader);
      if (platform != nullptr) return Handle(platform);
    }
    if (Module* loaded = FindImageByBaseName(loader, name)) {
      if (!loaded->pinned) ++loaded->references;
      return Handle(loaded);
    }
  }
  return LoadImage(loader, name,
                   /*callEntry=*/(dwFlags & DONT_RESOLVE_DLL_REFERENCES) == 0);
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  return LoadLibraryExA(lpLibFileName, /*hFile=*/nullptr, /*dwFlags=*/0);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  Loader& loader = State();
  std::lock_guard<std::recursive_mutex> guard(loader.lock);
  if (Module* data = DataFromHandle(loader, hLibModule)) {
    if (--data->references == 0) {
      qxplatform::internal::ReleaseModuleResources(hLibModule);
      Forget(&loader.dataFiles, data);
      delete data;
    }
    return TRUE;
  }
  Module* module = ImageFromHandle(loader, hLibModule);
  if (module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  if (module->pinned || --module->references > 0) return TRUE;
  if (Runs(module) && !module->detached) {
    module->detached = true;
    Notify(module, DLL_PROCESS_DETACH, nullptr);
  }
  Unload(loader, module);
  return TRUE;
}

namespace {

FARPROC FindExport(Loader& loader, HMODULE handle, LPCSTR name, int chain);

// The function a forwarder of module names, loading its library by the
// usual rules (the name without an extension means a .dll file) and
// keeping it loaded for module.
FARPROC FollowForwarder(Loader& loader, Module* module,
                        const qxplatform::internal::PeModuleForwarder& to,
                        int chain) {
  if (chain >= kLongestForwarderChain) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  const HMODULE target = LoadLibraryA((to.library + ".dll").c_str());
  if (target == nullptr) return nullptr;  // the load set the last error
  qxplatform::internal::HoldLibrary(Handle(module), target,
                                    &module->forwardTargets);
  const LPCSTR name =
      to.name.empty() ? MAKEINTRESOURCEA(to.ordinal) : to.name.c_str();
  return FindExport(loader, target, name, chain + 1);
}

FARPROC FindExport(Loader& loader, HMODULE handle, LPCSTR name, int chain) {
  Module* module =
      handle == nullptr ? Executable(loader) : ImageFromHandle(loader, handle);
  if (module == nullptr ||
      (module->library == nullptr && module->image == nullptr)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  if (module->image != nullptr) {
    DWORD error = ERROR_SUCCESS;
    qxplatform::internal::PeModuleForwarder forwarder;
    FARPROC found = qxplatform::internal::FindPeModuleExport(
        module->image, name, &error, &forwarder);
    if (found == nullptr && error == ERROR_SUCCESS)
      return FollowForwarder(loader, module, forwarder, chain);
    if (found == nullptr) SetLastError(error);
    return found;
  }
  if (name != nullptr && IS_INTRESOURCE(name) &&
      module == loader.platform) {
    // The system libraries' ordinals, where the platform knows them.
    const WORD ordinal =
        static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
    for (const auto* table : qxplatform::internal::AllSystemLibraries()) {
      const auto* entry =
          qxplatform::internal::FindSystemExport(*table, nullptr, ordinal);
      if (entry != nullptr)
        return reinterpret_cast<FARPROC>(const_cast<void*>(entry->address));
    }
  }
  // Shared objects export by name only; there are no ordinals to look up.
  if (name == nullptr || IS_INTRESOURCE(name)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* address = dlsym(module->library, name);
  if (address == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(address);
}

}  // namespace

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  Loader& loader = State();
  std::lock_guard<std::recursive_mutex> guard(loader.lock);
  return FindExport(loader, hModule, lpProcName, /*chain=*/0);
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename,
                                DWORD nSize) {
  Loader& loader = State();
  std::lock_guard<std::recursive_mutex> guard(loader.lock);
  Module* module = hModule == nullptr ? Executable(loader)
                                      : ImageFromHandle(loader, hModule);
  if (module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (lpFilename == nullptr && nSize != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string path = qxplatform::internal::FileNameToAnsi(module->path);
  if (path.size() < nSize) {
    memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
  }
  // Too small: as much as fits, always terminated, and the full size as
  // the result.
  if (nSize != 0) {
    memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
  }
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return nSize;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  Loader& loader = State();
  std::lock_guard<std::recursive_mutex> guard(loader.lock);
  if (lpModuleName == nullptr) return Handle(Executable(loader));
  const Name name = NameOf(lpModuleName);
  Module* module = nullptr;
  if (name.IsPath()) {
    module = FindImageByPath(loader, name);
  } else if (IsSystemLibraryName(name.utf8)) {
    module = Platform(loader);
  } else {
    module = FindImageByBaseName(loader, name);
    const std::string executable = BaseName(Executable(loader)->path);
    if (module == nullptr &&
        (EqualIgnoringAsciiCase(executable, name.utf8) ||
         EqualIgnoringAsciiCase(executable, name.bytes)))
      module = Executable(loader);
  }
  if (module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return Handle(module);
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule) {
  Loader& loader = State();
  std::lock_guard<std::recursive_mutex> guard(loader.lock);
  Module* module = ImageFromHandle(loader, hLibModule);
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Native libraries never hear of threads here; Windows images stop hearing
  // of them.
  module->threadCallsDisabled = true;
  return TRUE;
}

namespace qxplatform {
namespace internal {

std::recursive_mutex& LoaderLock() { return State().lock; }

bool ModuleFilePath(HMODULE module, std::string* path) {
  Loader& loader = State();
  std::lock_guard<std::recursive_mutex> guard(loader.lock);
  Module* found = DataFromHandle(loader, module);
  if (found == nullptr)
    found = module == nullptr ? Executable(loader)
                              : ImageFromHandle(loader, module);
  if (found == nullptr) return false;
  *path = found->path;
  return true;
}

}  // namespace internal
}  // namespace qxplatform
