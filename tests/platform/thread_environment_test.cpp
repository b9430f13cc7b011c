// Thread environment blocks, the thread start and end hooks, and the checked
// stubs that stand between a Windows image and the platform. All of it
// exists only in the 32-bit x86 build; elsewhere the tests skip.
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "thread_environment.h"
#include "thread_environment_layout.h"
#include "support/platform_fixture.h"

namespace {

using qxplatform::internal::CurrentThreadEnvironment;
using qxplatform::internal::EnsureThreadEnvironment;
using qxplatform::internal::MakeCheckedImportThunk;
using qxplatform::internal::SetThreadStartHooks;

// A dword of the calling thread's block, read as Windows code reads it.
uint32_t FsDword(uint32_t offset) {
#if defined(__i386__)
  uint32_t value;
  asm volatile("movl %%fs:(%1), %0" : "=r"(value) : "r"(offset) : "memory");
  return value;
#else
  (void)offset;
  return 0;
#endif
}

uint32_t AddressOf(const void* pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

// What a call left behind: the result registers and how far the stack
// pointer moved across it (0 when the callee popped what was pushed).
struct CallOutcome {
  uint32_t eax = 0;
  uint32_t edx = 0;
  int32_t moved = 0;
};

// Pushes two arguments and calls function as an image's code would, with
// nothing of the compiler's in between that could hide a wrong stack.
CallOutcome CallWithTwoArguments(const void* function, uint32_t first,
                                 uint32_t second) {
  CallOutcome outcome;
#if defined(__i386__)
  uint32_t moved = second;
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "pushl %%ecx\n\t"
      "pushl %%ebx\n\t"
      "call *%%edi\n\t"
      "movl %%esp, %%ecx\n\t"
      "subl %%esi, %%ecx\n\t"
      "movl %%esi, %%esp\n\t"
      : "=a"(outcome.eax), "=d"(outcome.edx), "+c"(moved)
      : "D"(function), "b"(first)
      : "esi", "memory", "cc");
  outcome.moved = static_cast<int32_t>(moved);
#else
  (void)function;
  (void)first;
  (void)second;
#endif
  return outcome;
}

// A stdcall function with a 64-bit result: it pops 8 bytes.
__attribute__((noinline)) uint64_t WINAPI Pair(uint32_t first,
                                               uint32_t second) {
  return (static_cast<uint64_t>(first * 3u) << 32) | (second ^ 0x5A5A5A5Au);
}

// A cdecl function: it pops nothing.
__attribute__((noinline)) uint32_t Sum(uint32_t first, uint32_t second) {
  return first + second;
}

constexpr uint64_t ExpectedPair(uint32_t first, uint32_t second) {
  return (static_cast<uint64_t>(first * 3u) << 32) | (second ^ 0x5A5A5A5Au);
}

// Stubs shared by the nesting tests: a cdecl function declared as popping
// 8 bytes, and a stdcall function that calls back through stubs.
void* g_wrongSum = nullptr;
void* g_nested = nullptr;

typedef uint32_t(WINAPI* TwoArgumentStdcall)(uint32_t, uint32_t);

// Each level calls itself through its stub and makes one mismatching call.
__attribute__((noinline)) uint32_t WINAPI Nested(uint32_t depth,
                                                 uint32_t step) {
  if (depth == 0) return 0;
  uint32_t below =
      reinterpret_cast<TwoArgumentStdcall>(g_nested)(depth - 1, step);
  uint32_t two = reinterpret_cast<TwoArgumentStdcall>(g_wrongSum)(1, 1);
  return below + step + two - 2;
}

// Deeper than the stubs' stack holds: the calls past it go unchecked, so
// every callee here is declared right.
void* g_deep = nullptr;

__attribute__((noinline)) uint32_t WINAPI Deep(uint32_t depth, uint32_t step) {
  if (depth == 0) return 0;
  return reinterpret_cast<TwoArgumentStdcall>(g_deep)(depth - 1, step) + step;
}

class ThreadEnvironmentTest : public PlatformTest {
 protected:
  void SetUp() override {
#if !defined(__i386__)
    GTEST_SKIP() << "thread environments exist only in the 32-bit x86 build";
#endif
    PlatformTest::SetUp();
    SetThreadStartHooks(nullptr, nullptr);
    g_wrongSum = MakeCheckedImportThunk(reinterpret_cast<void*>(&Sum), 8);
    g_nested = MakeCheckedImportThunk(reinterpret_cast<void*>(&Nested), 8);
    g_deep = MakeCheckedImportThunk(reinterpret_cast<void*>(&Deep), 8);
    ASSERT_NE(g_wrongSum, nullptr);
    ASSERT_NE(g_nested, nullptr);
    ASSERT_NE(g_deep, nullptr);
  }
  void TearDown() override {
    SetThreadStartHooks(nullptr, nullptr);
    PlatformTest::TearDown();
  }
};

// Checks the calling thread's block as Windows code sees it.
void ExpectOwnBlock() {
  int local = 0;
  void* block = CurrentThreadEnvironment();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(FsDword(QX_TEB_SELF), AddressOf(block));
  EXPECT_EQ(FsDword(QX_TEB_EXCEPTION_LIST), 0xFFFFFFFFu);
  EXPECT_GT(FsDword(QX_TEB_STACK_BASE), AddressOf(&local));
  EXPECT_LT(FsDword(QX_TEB_STACK_LIMIT), AddressOf(&local));
  EXPECT_EQ(FsDword(QX_TEB_PROCESS_ID), GetCurrentProcessId());
  EXPECT_EQ(FsDword(QX_TEB_THREAD_ID), GetCurrentThreadId());
  EXPECT_EQ(FsDword(QX_TEB_TLS_POINTER),
            AddressOf(qxplatform::internal::ThreadLocalStorageSlots()));
  const BYTE* peb =
      static_cast<const BYTE*>(qxplatform::internal::ProcessEnvironment());
  ASSERT_NE(peb, nullptr);
  EXPECT_EQ(FsDword(QX_TEB_PEB), AddressOf(peb));
  EXPECT_EQ(peb[2], 0) << "BeingDebugged";
}

TEST_F(ThreadEnvironmentTest, MainThreadGetsItsBlock) {
  DWORD error = 0;
  ASSERT_TRUE(EnsureThreadEnvironment(&error)) << error;
  ExpectOwnBlock();
  void* block = CurrentThreadEnvironment();
  ASSERT_TRUE(EnsureThreadEnvironment(&error));
  EXPECT_EQ(CurrentThreadEnvironment(), block) << "made only once";
}

TEST_F(ThreadEnvironmentTest, EachThreadGetsItsOwnBlock) {
  DWORD error = 0;
  ASSERT_TRUE(EnsureThreadEnvironment(&error)) << error;
  void* mainBlock = CurrentThreadEnvironment();
  constexpr int kThreads = 3;
  std::vector<void*> blocks(kThreads, nullptr);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      // Without hooks a thread starts with none of its own.
      EXPECT_EQ(CurrentThreadEnvironment(), nullptr);
      DWORD threadError = 0;
      EXPECT_TRUE(EnsureThreadEnvironment(&threadError)) << threadError;
      ExpectOwnBlock();
      blocks[i] = CurrentThreadEnvironment();
      // All alive at once, so that none can be handed another's block.
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      EXPECT_EQ(FsDword(QX_TEB_SELF), AddressOf(blocks[i]));
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_NE(blocks[i], nullptr);
    EXPECT_NE(blocks[i], mainBlock);
    for (int j = 0; j < i; ++j) EXPECT_NE(blocks[i], blocks[j]);
  }
  ExpectOwnBlock();  // the main thread's is still its own
  EXPECT_EQ(CurrentThreadEnvironment(), mainBlock);
}

// ---- start and end hooks
// ------------------------------------------------------

struct HookLog {
  std::mutex lock;
  std::vector<std::pair<DWORD, char>> events;
  void Add(char event) {
    std::lock_guard<std::mutex> guard(lock);
    events.emplace_back(GetCurrentThreadId(), event);
  }
  std::vector<char> Of(DWORD thread) {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<char> found;
    for (const auto& event : events)
      if (event.first == thread) found.push_back(event.second);
    return found;
  }
};

HookLog* g_log = nullptr;
std::atomic<int> g_hooksWithoutBlock{0};

void NoteBlock() {
  void* block = CurrentThreadEnvironment();
  if (block == nullptr || FsDword(QX_TEB_SELF) != AddressOf(block) ||
      FsDword(QX_TEB_THREAD_ID) != GetCurrentThreadId())
    g_hooksWithoutBlock.fetch_add(1);
}

void Started() {
  NoteBlock();
  g_log->Add('s');
}

void Ending() {
  NoteBlock();
  g_log->Add('e');
}

struct NotesDestruction {
  ~NotesDestruction() { g_log->Add('d'); }
};

void* ExitsEarly(void* id) {
  *static_cast<DWORD*>(id) = GetCurrentThreadId();
  g_log->Add('b');
  pthread_exit(nullptr);
}

void* KeepsThreadLocal(void* id) {
  static thread_local NotesDestruction object;
  (void)&object;
  *static_cast<DWORD*>(id) = GetCurrentThreadId();
  g_log->Add('b');
  return nullptr;
}

TEST_F(ThreadEnvironmentTest, HooksRunOncePerThreadInOrder) {
  HookLog log;
  g_log = &log;
  g_hooksWithoutBlock = 0;
  SetThreadStartHooks(Started, Ending);
  constexpr int kThreads = 4;
  std::vector<DWORD> ids(kThreads, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&ids, i] {
      ids[i] = GetCurrentThreadId();
      EXPECT_NE(CurrentThreadEnvironment(), nullptr);
      g_log->Add('b');
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (DWORD id : ids)
    EXPECT_EQ(log.Of(id), (std::vector<char>{'s', 'b', 'e'})) << id;
  EXPECT_EQ(log.events.size(), 3u * kThreads);
  EXPECT_EQ(g_hooksWithoutBlock.load(), 0);
  g_log = nullptr;
}

TEST_F(ThreadEnvironmentTest, EndingRunsWhenThreadCallsPthreadExit) {
  HookLog log;
  g_log = &log;
  g_hooksWithoutBlock = 0;
  SetThreadStartHooks(Started, Ending);
  DWORD id = 0;
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, ExitsEarly, &id), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  EXPECT_EQ(log.Of(id), (std::vector<char>{'s', 'b', 'e'}));
  EXPECT_EQ(g_hooksWithoutBlock.load(), 0);
  g_log = nullptr;
}

TEST_F(ThreadEnvironmentTest, EndingRunsBeforeThreadLocalsGo) {
  HookLog log;
  g_log = &log;
  SetThreadStartHooks(Started, Ending);
  DWORD id = 0;
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, KeepsThreadLocal, &id), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  EXPECT_EQ(log.Of(id), (std::vector<char>{'s', 'b', 'e', 'd'}));
  g_log = nullptr;
}

TEST_F(ThreadEnvironmentTest, WithoutHooksThreadsStartPlain) {
  HookLog log;
  g_log = &log;
  SetThreadStartHooks(Started, Ending);
  SetThreadStartHooks(nullptr, nullptr);
  void* seen = reinterpret_cast<void*>(1);
  std::thread([&seen] { seen = CurrentThreadEnvironment(); }).join();
  EXPECT_EQ(seen, nullptr);
  EXPECT_TRUE(log.events.empty());
  g_log = nullptr;
}

// ---- checked stubs
// -------------------------------------------------------------

TEST_F(ThreadEnvironmentTest, CorrectStdcallCallCountsNothing) {
  const long before = qxplatform::ImportStackMismatches();
  void* stub = MakeCheckedImportThunk(reinterpret_cast<void*>(&Pair), 8);
  ASSERT_NE(stub, nullptr);
  EXPECT_EQ(MakeCheckedImportThunk(reinterpret_cast<void*>(&Pair), 8), stub)
      << "one stub per target and size";
  CallOutcome outcome = CallWithTwoArguments(stub, 0x01234567u, 0x89ABCDEFu);
  const uint64_t expected = ExpectedPair(0x01234567u, 0x89ABCDEFu);
  EXPECT_EQ(outcome.eax, static_cast<uint32_t>(expected));
  EXPECT_EQ(outcome.edx, static_cast<uint32_t>(expected >> 32));
  EXPECT_EQ(outcome.moved, 0);
  // And as compiled code calls it.
  auto typed = reinterpret_cast<uint64_t(WINAPI*)(uint32_t, uint32_t)>(stub);
  EXPECT_EQ(typed(7, 9), ExpectedPair(7, 9));
  EXPECT_EQ(qxplatform::ImportStackMismatches(), before);
  EXPECT_NE(CurrentThreadEnvironment(), nullptr) << "made by the first call";
}

TEST_F(ThreadEnvironmentTest, CorrectCdeclCallCountsNothing) {
  const long before = qxplatform::ImportStackMismatches();
  void* stub = MakeCheckedImportThunk(reinterpret_cast<void*>(&Sum), 0);
  ASSERT_NE(stub, nullptr);
  EXPECT_NE(stub, g_wrongSum);
  CallOutcome outcome = CallWithTwoArguments(stub, 40, 2);
  EXPECT_EQ(outcome.eax, 42u);
  EXPECT_EQ(outcome.moved, -8) << "the caller pops";
  EXPECT_EQ(qxplatform::ImportStackMismatches(), before);
}

TEST_F(ThreadEnvironmentTest, CdeclDeclaredAsPoppingIsCountedAndRepaired) {
  const long before = qxplatform::ImportStackMismatches();
  CallOutcome outcome = CallWithTwoArguments(g_wrongSum, 40, 2);
  EXPECT_EQ(outcome.eax, 42u);
  EXPECT_EQ(outcome.moved, 0) << "the stack as a stdcall callee leaves it";
  EXPECT_EQ(qxplatform::ImportStackMismatches(), before + 1);
  // Compiled code relying on the pop goes on as well.
  EXPECT_EQ(reinterpret_cast<TwoArgumentStdcall>(g_wrongSum)(5, 6), 11u);
  EXPECT_EQ(qxplatform::ImportStackMismatches(), before + 2);
}

TEST_F(ThreadEnvironmentTest, StdcallDeclaredAsCdeclIsCountedAndRepaired) {
  const long before = qxplatform::ImportStackMismatches();
  void* stub = MakeCheckedImportThunk(reinterpret_cast<void*>(&Pair), 0);
  CallOutcome outcome = CallWithTwoArguments(stub, 3, 4);
  const uint64_t expected = ExpectedPair(3, 4);
  EXPECT_EQ(outcome.eax, static_cast<uint32_t>(expected));
  EXPECT_EQ(outcome.edx, static_cast<uint32_t>(expected >> 32));
  EXPECT_EQ(outcome.moved, -8) << "the arguments left for the caller";
  EXPECT_EQ(qxplatform::ImportStackMismatches(), before + 1);
}

TEST_F(ThreadEnvironmentTest, NestedCallsThroughStubsStayCorrect) {
  const long before = qxplatform::ImportStackMismatches();
  CallOutcome outcome = CallWithTwoArguments(g_nested, 50, 3);
  EXPECT_EQ(outcome.eax, 150u);
  EXPECT_EQ(outcome.moved, 0);
  EXPECT_EQ(qxplatform::ImportStackMismatches(), before + 50);
  EXPECT_EQ(FsDword(QX_TEB_THUNK_TOP),
            static_cast<uint32_t>(QX_TEB_THUNK_STACK))
      << "every entry popped";
}

TEST_F(ThreadEnvironmentTest, NestingBeyondTheStubStackGoesOnUnchecked) {
  const long before = qxplatform::ImportStackMismatches();
  constexpr uint32_t kDepth =
      2 * (QX_TEB_SIZE - QX_TEB_THUNK_STACK) / QX_TEB_THUNK_ENTRY;
  CallOutcome outcome = CallWithTwoArguments(g_deep, kDepth, 1);
  EXPECT_EQ(outcome.eax, kDepth);
  EXPECT_EQ(outcome.moved, 0);
  EXPECT_EQ(qxplatform::ImportStackMismatches(), before);
  EXPECT_EQ(FsDword(QX_TEB_THUNK_TOP),
            static_cast<uint32_t>(QX_TEB_THUNK_STACK))
      << "every entry popped";
  // And the stack serves again.
  EXPECT_EQ(CallWithTwoArguments(g_wrongSum, 1, 2).moved, 0);
  EXPECT_EQ(qxplatform::ImportStackMismatches(), before + 1);
}

TEST_F(ThreadEnvironmentTest, ThreadsCallingAtOnceStayCorrect) {
  DWORD error = 0;
  // Threads inherit this thread's %fs: the stubs must not use its block.
  ASSERT_TRUE(EnsureThreadEnvironment(&error)) << error;
  void* mainBlock = CurrentThreadEnvironment();
  const long before = qxplatform::ImportStackMismatches();
  void* pair = MakeCheckedImportThunk(reinterpret_cast<void*>(&Pair), 8);
  constexpr int kThreads = 4;
  constexpr uint32_t kRounds = 20000;
  constexpr uint32_t kDepth = 3;
  std::atomic<int> failures{0};
  std::atomic<int> started{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      if (CurrentThreadEnvironment() != nullptr) failures.fetch_add(1);
      started.fetch_add(1);
      while (started.load() < kThreads) std::this_thread::yield();
      for (uint32_t round = 0; round < kRounds; ++round) {
        const uint32_t first = round * kThreads + t;
        CallOutcome a = CallWithTwoArguments(pair, first, ~first);
        const uint64_t expected = ExpectedPair(first, ~first);
        CallOutcome b = CallWithTwoArguments(g_wrongSum, first, 1);
        CallOutcome c = CallWithTwoArguments(g_nested, kDepth, first);
        if (a.eax != static_cast<uint32_t>(expected) ||
            a.edx != static_cast<uint32_t>(expected >> 32) || a.moved != 0 ||
            b.eax != first + 1 || b.moved != 0 || c.eax != kDepth * first ||
            c.moved != 0)
          failures.fetch_add(1);
      }
      void* block = CurrentThreadEnvironment();
      if (block == nullptr || block == mainBlock ||
          FsDword(QX_TEB_SELF) != AddressOf(block))
        failures.fetch_add(1);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(qxplatform::ImportStackMismatches(),
            before + static_cast<long>(kThreads * kRounds * (1 + kDepth)));
  EXPECT_EQ(CurrentThreadEnvironment(), mainBlock);
  EXPECT_EQ(FsDword(QX_TEB_SELF), AddressOf(mainBlock));
}

// ---- the control
// ---------------------------------------------------------------

TEST_F(ThreadEnvironmentTest, CheckingFollowsControlAndEnvironment) {
  unsetenv("QX_CHECK_IMPORT_STACKS");
  qxplatform::ResetControls();
  EXPECT_FALSE(qxplatform::internal::ImportStackCheckingEnabled());
  qxplatform::CheckImportStacks(true);
  EXPECT_TRUE(qxplatform::internal::ImportStackCheckingEnabled());
  qxplatform::CheckImportStacks(false);
  EXPECT_FALSE(qxplatform::internal::ImportStackCheckingEnabled());
  setenv("QX_CHECK_IMPORT_STACKS", "1", /*overwrite=*/1);
  qxplatform::ResetControls();
  EXPECT_TRUE(qxplatform::internal::ImportStackCheckingEnabled());
  unsetenv("QX_CHECK_IMPORT_STACKS");
  qxplatform::ResetControls();
  EXPECT_FALSE(qxplatform::internal::ImportStackCheckingEnabled());
}

}  // namespace
