// Thread environment blocks, thread start and end notifications and checked
// import stubs (thread_environment.h).
//
// A block is installed as a segment: set_thread_area(2) writes one of the
// thread's TLS descriptor entries (glibc holds another for %gs), and %fs is
// loaded with its selector. Descriptors are per thread but copied when a
// thread is cloned, and so is %fs: a new thread starts out reaching its
// creator's block. Each thread that runs image code therefore gets its own,
// under the one entry number the first block took.
//
// Blocks are never unmapped: a thread that ends clears its %fs and gives its
// block back to a free list, from which the next thread takes it. A thread
// that still reaches the block through an inherited descriptor reads a
// block that belongs to someone else, or to nobody, but never unmapped
// memory; the stubs check the owner before they trust a block, and the
// mismatch counts the stubs keep in the blocks can simply be summed.
#include "thread_environment.h"

#include <stdint.h>
#include <stdlib.h>

#include <atomic>
#include <mutex>

#include "thread_environment_layout.h"

#if defined(__i386__)
#include <asm/ldt.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <map>
#include <new>
#include <utility>
#include <vector>
#endif

static_assert(QX_TEB_TLS_SLOTS +
                      4 * qxplatform::internal::kThreadLocalStorageSlots <=
                  QX_TEB_THUNK_STACK,
              "the built-in TLS array runs into the stubs' stack");

namespace qxplatform {
namespace internal {
namespace {

// ---- whether imports are checked -------------------------------------------

enum CheckingState { kUnread = -1, kOff = 0, kOn = 1 };
std::atomic<int> g_checking{kUnread};

}  // namespace

bool ImportStackCheckingByEnvironment() {
  const char* value = getenv("QX_CHECK_IMPORT_STACKS");
  return value != nullptr && value[0] == '1' && value[1] == '\0';
}

bool ImportStackCheckingEnabled() {
  int state = g_checking.load(std::memory_order_acquire);
  if (state == kUnread) {
    int read = ImportStackCheckingByEnvironment() ? kOn : kOff;
    // A CheckImportStacks call in between wins over the environment.
    g_checking.compare_exchange_strong(state, read, std::memory_order_acq_rel);
    state = g_checking.load(std::memory_order_acquire);
  }
  return state == kOn;
}

void SetImportStackChecking(bool on) {
  g_checking.store(on ? kOn : kOff, std::memory_order_release);
}

void ResetImportStackChecking() {
  g_checking.store(ImportStackCheckingByEnvironment() ? kOn : kOff,
                   std::memory_order_release);
}

}  // namespace internal
}  // namespace qxplatform

#if defined(__i386__)

extern "C" {
// checked_import_call.S
void qx_checked_import_call();
// Called by the stubs' common code when %fs does not hold the calling
// thread's own block: nonzero once it does.
__attribute__((visibility("hidden"))) int qx_thread_environment_for_stub();
}

namespace qxplatform {
namespace internal {
namespace {

constexpr size_t kPageSize = 0x1000;
constexpr uint32_t kEndOfExceptionChain = 0xFFFFFFFF;

struct Process {
  std::mutex lock;
  int entry = -1;  // the descriptor entry every block is installed under
  void* peb = nullptr;
  bool keyMade = false;
  pthread_key_t key;  // its value: the thread's block, for the release
  std::vector<unsigned char*> blocks;  // every block ever made
  std::vector<unsigned char*> free;
};

Process& State() {
  static Process& process = *new Process;  // lives as long as any thread
  return process;
}

thread_local unsigned char* t_block = nullptr;

template <class T>
T& Field(unsigned char* block, size_t offset) {
  return *reinterpret_cast<T*>(block + offset);
}

uint32_t Address(const void* pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

uint32_t GlibcThreadPointer() {
  uint32_t pointer;
  asm volatile("movl %%gs:0, %0" : "=r"(pointer));
  return pointer;
}

void LoadFs(uint16_t selector) {
  asm volatile("movw %0, %%fs" : : "r"(selector) : "memory");
}

// Puts a block back as a new thread gets it: the image's view empty, the
// stubs' stack empty. The mismatch count stays: the process's total sums it.
void ClearBlock(unsigned char* block) {
  memset(block, 0, QX_TEB_MISMATCHES);
  memset(block + QX_TEB_TLS_SLOTS, 0, QX_TEB_SIZE - QX_TEB_TLS_SLOTS);
  Field<uint32_t>(block, QX_TEB_THUNK_TOP) = QX_TEB_THUNK_STACK;
}

void FillBlock(unsigned char* block, void* peb) {
  Field<uint32_t>(block, QX_TEB_EXCEPTION_LIST) = kEndOfExceptionChain;
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
    void* lowest = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attributes, &lowest, &size) == 0) {
      Field<uint32_t>(block, QX_TEB_STACK_LIMIT) = Address(lowest);
      Field<uint32_t>(block, QX_TEB_STACK_BASE) = Address(lowest) + size;
    }
    pthread_attr_destroy(&attributes);
  }
  Field<uint32_t>(block, QX_TEB_SELF) = Address(block);
  Field<uint32_t>(block, QX_TEB_PROCESS_ID) = static_cast<uint32_t>(getpid());
  Field<uint32_t>(block, QX_TEB_THREAD_ID) =
      static_cast<uint32_t>(syscall(SYS_gettid));
  Field<uint32_t>(block, QX_TEB_TLS_POINTER) =
      Address(block + QX_TEB_TLS_SLOTS);
  Field<uint32_t>(block, QX_TEB_PEB) = Address(peb);
  Field<uint32_t>(block, QX_TEB_OWNER) = GlibcThreadPointer();
}

// The thread is ending (its thread_local objects are gone; key destructors
// run after them): nothing of it may reach the block once another thread
// has it.
void ReleaseBlock(void* value) {
  unsigned char* block = static_cast<unsigned char*>(value);
  LoadFs(0);
  t_block = nullptr;
  ClearBlock(block);
  Process& process = State();
  std::lock_guard<std::mutex> guard(process.lock);
  process.free.push_back(block);
}

// A fork's child is one thread, the forking one, with a new process and
// thread id.
void UpdateIdsAfterFork() {
  if (t_block == nullptr) return;
  Field<uint32_t>(t_block, QX_TEB_PROCESS_ID) = static_cast<uint32_t>(getpid());
  Field<uint32_t>(t_block, QX_TEB_THREAD_ID) =
      static_cast<uint32_t>(syscall(SYS_gettid));
}

void* MapZeroed(size_t size) {
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return memory == MAP_FAILED ? nullptr : memory;
}

// A block for the calling thread, installed under the process's entry
// (taking a free entry the first time). Under the process lock.
DWORD InstallBlock(Process& process, unsigned char** installed,
                   uint16_t* selector) {
  if (process.peb == nullptr) {
    process.peb = MapZeroed(kPageSize);
    if (process.peb == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  }
  if (!process.keyMade) {
    if (pthread_key_create(&process.key, ReleaseBlock) != 0)
      return ERROR_NOT_ENOUGH_MEMORY;
    process.keyMade = true;
    pthread_atfork(nullptr, nullptr, UpdateIdsAfterFork);
  }
  unsigned char* block = nullptr;
  if (!process.free.empty()) {
    block = process.free.back();
  } else {
    block = static_cast<unsigned char*>(MapZeroed(QX_TEB_SIZE));
    if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    ClearBlock(block);
    process.blocks.push_back(block);
    process.free.push_back(block);
  }
  user_desc descriptor;
  memset(&descriptor, 0, sizeof(descriptor));
  descriptor.entry_number = static_cast<unsigned>(process.entry);
  descriptor.base_addr = Address(block);
  descriptor.limit = QX_TEB_SIZE - 1;  // in bytes
  descriptor.seg_32bit = 1;
  descriptor.contents = 0;  // data, growing up
  descriptor.read_exec_only = 0;
  descriptor.limit_in_pages = 0;
  descriptor.seg_not_present = 0;
  descriptor.useable = 1;
  // ESRCH: every entry of the thread is taken; anything else: the kernel
  // runs no 32-bit descriptors for this process.
  if (syscall(SYS_set_thread_area, &descriptor) != 0)
    return errno == ESRCH ? ERROR_NOT_ENOUGH_MEMORY : ERROR_NOT_SUPPORTED;
  process.entry = static_cast<int>(descriptor.entry_number);
  process.free.pop_back();
  FillBlock(block, process.peb);
  *installed = block;
  *selector = static_cast<uint16_t>((process.entry << 3) | 3);  // GDT, ring 3
  return ERROR_SUCCESS;
}

// ---- thread start and end ---------------------------------------------------

struct ThreadHooks {
  void (*started)();
  void (*ending)();
};

std::atomic<const ThreadHooks*> g_hooks{nullptr};

struct StartRecord {
  void* (*routine)(void*);
  void* argument;
  ThreadHooks hooks;
};

typedef int (*CreateFunction)(pthread_t*, const pthread_attr_t*,
                              void* (*)(void*), void*);

CreateFunction RealCreate() {
  static const CreateFunction real =
      reinterpret_cast<CreateFunction>(dlsym(RTLD_NEXT, "pthread_create"));
  return real;
}

void CallEnding(void* hooks) {
  if (auto ending = static_cast<const ThreadHooks*>(hooks)->ending) ending();
}

void* StartThread(void* raw) {
  StartRecord* record = static_cast<StartRecord*>(raw);
  void* (*routine)(void*) = record->routine;
  void* argument = record->argument;
  const ThreadHooks hooks = record->hooks;
  delete record;
  DWORD error = ERROR_SUCCESS;
  // A thread that cannot have its block is not announced: an image would
  // find nothing of its own there.
  if (!EnsureThreadEnvironment(&error)) return routine(argument);
  if (hooks.started != nullptr) hooks.started();
  void* result = nullptr;
  // The cleanup runs on return and when the thread is unwound by
  // pthread_exit or cancellation, before its thread_local objects go.
  pthread_cleanup_push(CallEnding, const_cast<ThreadHooks*>(&hooks));
  result = routine(argument);
  pthread_cleanup_pop(1);
  return result;
}

// ---- checked stubs ----------------------------------------------------------

// Each stub: push imm32 (bytes), push imm32 (target), jmp rel32, padded.
constexpr size_t kStubSize = 16;

struct StubPages {
  std::mutex lock;
  std::map<std::pair<uintptr_t, WORD>, void*> made;
  unsigned char* writable = nullptr;    // the current page, as written
  unsigned char* executable = nullptr;  // the same page, as run
  size_t used = kPageSize;
};

StubPages& Stubs() {
  static StubPages& pages = *new StubPages;  // stubs live with the process
  return pages;
}

// A page seen twice, writable and executable, so that no page is ever both
// and a stub can be added while others on the page run. Where no shared
// memory file can be had, one page that is both.
bool NewStubPage(StubPages& pages) {
  int file = static_cast<int>(
      syscall(SYS_memfd_create, "qx-import-stubs", MFD_CLOEXEC));
  if (file >= 0) {
    void* writable = MAP_FAILED;
    void* executable = MAP_FAILED;
    if (ftruncate(file, kPageSize) == 0) {
      writable =
          mmap(nullptr, kPageSize, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
      executable =
          mmap(nullptr, kPageSize, PROT_READ | PROT_EXEC, MAP_SHARED, file, 0);
    }
    close(file);
    if (writable != MAP_FAILED && executable != MAP_FAILED) {
      pages.writable = static_cast<unsigned char*>(writable);
      pages.executable = static_cast<unsigned char*>(executable);
      pages.used = 0;
      return true;
    }
    if (writable != MAP_FAILED) munmap(writable, kPageSize);
    if (executable != MAP_FAILED) munmap(executable, kPageSize);
  }
  void* page = mmap(nullptr, kPageSize, PROT_READ | PROT_WRITE | PROT_EXEC,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) return false;
  pages.writable = pages.executable = static_cast<unsigned char*>(page);
  pages.used = 0;
  return true;
}

void PutDword(unsigned char* at, uint32_t value) {
  memcpy(at, &value, sizeof(value));
}

}  // namespace

bool EnsureThreadEnvironment(DWORD* error) {
  if (t_block != nullptr) return true;
  Process& process = State();
  unsigned char* block = nullptr;
  uint16_t selector = 0;
  DWORD status;
  {
    std::lock_guard<std::mutex> guard(process.lock);
    status = InstallBlock(process, &block, &selector);
  }
  if (status != ERROR_SUCCESS) {
    if (error != nullptr) *error = status;
    return false;
  }
  LoadFs(selector);
  t_block = block;
  pthread_setspecific(process.key, block);
  return true;
}

void* CurrentThreadEnvironment() { return t_block; }

void* ProcessEnvironment() {
  Process& process = State();
  std::lock_guard<std::mutex> guard(process.lock);
  if (process.peb == nullptr) process.peb = MapZeroed(kPageSize);
  return process.peb;
}

void** ThreadLocalStorageSlots() {
  DWORD error;
  if (!EnsureThreadEnvironment(&error)) return nullptr;
  return reinterpret_cast<void**>(t_block + QX_TEB_TLS_SLOTS);
}

void SetThreadStartHooks(void (*started)(), void (*ending)()) {
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  const ThreadHooks* current = g_hooks.load(std::memory_order_acquire);
  if (current != nullptr && current->started == started &&
      current->ending == ending)
    return;
  // Threads started under the old hooks hold their own copy; the old pair
  // is kept, as a thread may be reading it this moment.
  const ThreadHooks* hooks = started == nullptr && ending == nullptr
                                 ? nullptr
                                 : new ThreadHooks{started, ending};
  g_hooks.store(hooks, std::memory_order_release);
}

void* MakeCheckedImportThunk(void* target, WORD argumentBytes) {
  StubPages& pages = Stubs();
  std::lock_guard<std::mutex> guard(pages.lock);
  const auto key =
      std::make_pair(reinterpret_cast<uintptr_t>(target), argumentBytes);
  auto found = pages.made.find(key);
  if (found != pages.made.end()) return found->second;
  if (pages.used + kStubSize > kPageSize && !NewStubPage(pages)) return nullptr;
  unsigned char* code = pages.writable + pages.used;
  unsigned char* stub = pages.executable + pages.used;
  code[0] = 0x68;  // push imm32
  PutDword(code + 1, argumentBytes);
  code[5] = 0x68;  // push imm32
  PutDword(code + 6, Address(target));
  code[10] = 0xE9;  // jmp rel32, from the end of the instruction
  PutDword(code + 11,
           Address(reinterpret_cast<void*>(&qx_checked_import_call)) -
               Address(stub + 15));
  code[15] = 0xCC;  // int3: never reached
  pages.used += kStubSize;
  pages.made.emplace(key, stub);
  return stub;
}

long CountImportStackMismatches() {
  Process& process = State();
  std::lock_guard<std::mutex> guard(process.lock);
  long total = 0;
  for (unsigned char* block : process.blocks) {
    total +=
        __atomic_load_n(reinterpret_cast<uint32_t*>(block + QX_TEB_MISMATCHES),
                        __ATOMIC_RELAXED);
  }
  return total;
}

}  // namespace internal
}  // namespace qxplatform

int qx_thread_environment_for_stub() {
  DWORD error;
  return qxplatform::internal::EnsureThreadEnvironment(&error) ? 1 : 0;
}

// Every thread of the process is started here first (this library comes
// before the C library in the search order of anything that links it), so
// that a thread started while an image listens for threads is announced to
// it. Otherwise the call is the system's own, unchanged.
extern "C" __attribute__((visibility("default"))) int pthread_create(
    pthread_t* thread, const pthread_attr_t* attributes,
    void* (*routine)(void*), void* argument) noexcept {
  using qxplatform::internal::StartRecord;
  const qxplatform::internal::CreateFunction real =
      qxplatform::internal::RealCreate();
  if (real == nullptr) return EAGAIN;
  const qxplatform::internal::ThreadHooks* hooks =
      qxplatform::internal::g_hooks.load(std::memory_order_acquire);
  if (hooks == nullptr) return real(thread, attributes, routine, argument);
  StartRecord* record =
      new (std::nothrow) StartRecord{routine, argument, *hooks};
  if (record == nullptr) return EAGAIN;
  int status =
      real(thread, attributes, qxplatform::internal::StartThread, record);
  if (status != 0) delete record;
  return status;
}

#else  // !__i386__: no image runs in this process

namespace qxplatform {
namespace internal {

bool EnsureThreadEnvironment(DWORD* error) {
  if (error != nullptr) *error = ERROR_NOT_SUPPORTED;
  return false;
}
void* CurrentThreadEnvironment() { return nullptr; }
void* ProcessEnvironment() { return nullptr; }
void** ThreadLocalStorageSlots() { return nullptr; }
void SetThreadStartHooks(void (*)(), void (*)()) {}
void* MakeCheckedImportThunk(void* target, WORD) { return target; }
long CountImportStackMismatches() { return 0; }

}  // namespace internal
}  // namespace qxplatform

#endif
