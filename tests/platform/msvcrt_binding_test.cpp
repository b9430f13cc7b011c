// The C runtime a Windows image's start-up code imports from msvcrt.dll,
// called as the image calls it: through the addresses its imports are bound
// to. msvcrt's FILE records, its recursive numbered locks, its start-up
// helpers and its printf conventions.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "pe_exports.h"

namespace {

using qxplatform::internal::ExportKind;
using qxplatform::internal::FindSystemExport;
using qxplatform::internal::FindSystemLibrary;
using qxplatform::internal::SystemExport;

// msvcrt's FILE on this build's pointer size: 32 bytes on 32-bit x86.
struct MsvcrtFile {
  char* ptr;
  int cnt;
  char* base;
  int flag;
  int file;
  int charbuf;
  int bufsiz;
  char* tmpfname;
};

const SystemExport* Runtime(const char* name) {
  const auto* table = FindSystemLibrary("msvcrt.dll");
  if (table == nullptr) return nullptr;
  return FindSystemExport(*table, name, 0);
}

template <class Function>
Function Bound(const char* name) {
  const SystemExport* entry = Runtime(name);
  EXPECT_NE(entry, nullptr) << name;
  EXPECT_EQ(entry == nullptr ? ExportKind::kData : entry->kind,
            ExportKind::kCdecl)
      << name;
  return entry == nullptr
             ? nullptr
             : reinterpret_cast<Function>(const_cast<void*>(entry->address));
}

MsvcrtFile* Iob() {
  const SystemExport* entry = Runtime("_iob");
  EXPECT_NE(entry, nullptr);
  if (entry == nullptr) return nullptr;
  EXPECT_EQ(entry->kind, ExportKind::kData);
  return static_cast<MsvcrtFile*>(const_cast<void*>(entry->address));
}

// The types the platform defines them with, so that a call through the
// bound address is a call of the function's own type.
using Vfprintf = int (*)(void*, const char*, va_list);
using Fwrite = size_t (*)(const void*, size_t, size_t, void*);

// Calls the bound vfprintf with the arguments after format, as mingw's
// error reports do.
int Printf(MsvcrtFile* stream, const char* format, ...) {
  static const Vfprintf vfprintfBound = Bound<Vfprintf>("vfprintf");
  va_list args;
  va_start(args, format);
  int result = vfprintfBound(stream, format, args);
  va_end(args);
  return result;
}

// What the bound vfprintf writes to msvcrt's stdout for format and the
// arguments after it; the result in *result.
std::string Formatted(int* result, const char* format, ...) {
  static const Vfprintf vfprintfBound = Bound<Vfprintf>("vfprintf");
  MsvcrtFile* iob = Iob();
  testing::internal::CaptureStdout();
  va_list args;
  va_start(args, format);
  *result = vfprintfBound(&iob[1], format, args);
  va_end(args);
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

#define EXPECT_FORMATS(expected, ...)                     \
  do {                                                    \
    int result_ = 0;                                      \
    std::string text_ = Formatted(&result_, __VA_ARGS__); \
    EXPECT_EQ(text_, expected);                           \
    EXPECT_EQ(result_, static_cast<int>(text_.size()));   \
  } while (0)

TEST(MsvcrtBinding, IobHoldsTheStandardStreamsInMsvcrtsRecords) {
  if (sizeof(void*) == 4) {
    EXPECT_EQ(sizeof(MsvcrtFile), 32u);
  }
  MsvcrtFile* iob = Iob();
  ASSERT_NE(iob, nullptr);
  EXPECT_EQ(iob[0].file, 0);
  EXPECT_EQ(iob[1].file, 1);
  EXPECT_EQ(iob[2].file, 2);
  EXPECT_EQ(iob[0].flag, 0x0001);  // _IOREAD
  EXPECT_EQ(iob[1].flag, 0x0002);  // _IOWRT
  EXPECT_EQ(iob[2].flag, 0x0002);
}

TEST(MsvcrtBinding, FwriteWritesTheStandardStreamsAndRefusesOthers) {
  auto fwriteBound = Bound<Fwrite>("fwrite");
  MsvcrtFile* iob = Iob();
  testing::internal::CaptureStdout();
  size_t written = fwriteBound("hello, world", 1, 5, &iob[1]);
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "hello");
  EXPECT_EQ(written, 5u);

  testing::internal::CaptureStderr();
  EXPECT_EQ(fwriteBound("abcdef", 2, 3, &iob[2]), 3u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "abcdef");

  for (MsvcrtFile* other :
       {&iob[3], &iob[5], &iob[19], static_cast<MsvcrtFile*>(nullptr)}) {
    errno = 0;
    EXPECT_EQ(fwriteBound("x", 1, 1, other), 0u);
    EXPECT_EQ(errno, EINVAL);
  }
  // A pointer into the middle of a standard record is no stream either.
  errno = 0;
  EXPECT_EQ(fwriteBound("x", 1, 1,
                        reinterpret_cast<MsvcrtFile*>(
                            reinterpret_cast<char*>(&iob[1]) + 4)),
            0u);
  EXPECT_EQ(errno, EINVAL);
}

TEST(MsvcrtBinding, VfprintfRefusesStreamsItDoesNotKnow) {
  MsvcrtFile* iob = Iob();
  errno = 0;
  EXPECT_EQ(Printf(&iob[4], "%d", 1), -1);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(Printf(nullptr, "%d", 1), -1);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(Printf(&iob[1], nullptr), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST(MsvcrtBinding, VfprintfFormatsAsMsvcrt) {
  EXPECT_FORMATS("plain text", "plain text");
  EXPECT_FORMATS("100%", "100%%");
  EXPECT_FORMATS("-42 17 ff FF 0x1f 755", "%d %u %x %X %#x %o", -42, 17u, 255,
                 255, 31, 0755);
  EXPECT_FORMATS("[  7] [7  ] [007] [+07] [ -7]",
                 "[%3d] [%-3d] [%03d] [%+03d] [%3d]", 7, 7, 7, 7, -7);
  EXPECT_FORMATS("[   ab]", "[%*s]", 5, "ab");
  EXPECT_FORMATS("[ab   ]", "[%*s]", -5, "ab");
  EXPECT_FORMATS("[0005]", "[%.4d]", 5);
  EXPECT_FORMATS("[  0005]", "[%06.4d]", 5);
  // Windows sizes: long is 32 bits, I64 and ll 64, I32 32, h 16.
  EXPECT_FORMATS("-1 4294967295", "%ld %lu", int32_t{-1}, uint32_t{0xFFFFFFFF});
  EXPECT_FORMATS("-9000000000 18446744073709551615", "%I64d %I64u",
                 -9000000000LL, ~0ULL);
  EXPECT_FORMATS("-9000000000 ffffffffffffffff", "%lld %llx", -9000000000LL,
                 ~0ULL);
  EXPECT_FORMATS("-5 65535", "%I32d %hu", -5, 0xFFFFFFFF);
  EXPECT_FORMATS("-1", "%hd", 0xFFFF);
  {
    int result = 0;
    std::string text = Formatted(&result, "%Ix", ~uintptr_t{0});
    EXPECT_EQ(text, std::string(2 * sizeof(void*), 'f'));
  }
  // Strings and characters; %S and %C are the wide ones.
  EXPECT_FORMATS("text (null) wide wide narrow W w", "%s %s %S %ls %hS %C %wc",
                 "text", static_cast<const char*>(nullptr), u"wide", u"wide",
                 "narrow", static_cast<int>(u'W'), static_cast<int>(u'w'));
  EXPECT_FORMATS("(null)", "%S", static_cast<const char16_t*>(nullptr));
  EXPECT_FORMATS("caf\xe9", "%S", u"caf\u00e9");
  EXPECT_FORMATS("ab", "%.2s", "abcdef");
  EXPECT_FORMATS("ab", "%.2S", u"abcdef");
  EXPECT_FORMATS("[x]", "[%c]", 'x');
  // The 0 flag pads strings and characters with zeros.
  EXPECT_FORMATS("000ab 0000x", "%05s %05c", "ab", 'x');
  // Floating point: three exponent digits; L is a plain double.
  EXPECT_FORMATS("1.500000 1.500000e+000 2.5E-010 0.25 0.500000",
                 "%f %e %G %Lg %lf", 1.5, 1.5, 2.5e-10, 0.25, 0.5);
  EXPECT_FORMATS("[  1.0e+100]", "[%10.1e]", 1e100);
  EXPECT_FORMATS("[-001.50]", "[%07.2f]", -1.5);
}

TEST(MsvcrtBinding, VfprintfPrintsPointersAsUpperCaseHexOfTheirFullWidth) {
  void* pointer = reinterpret_cast<void*>(uintptr_t{0xABCDE});
  std::string digits(2 * sizeof(void*) - 5, '0');
  EXPECT_FORMATS(digits + "ABCDE", "%p", pointer);
  EXPECT_FORMATS("0X" + digits + "ABCDE", "%#p", pointer);
  EXPECT_FORMATS(
      std::string(3, ' ') + digits + "ABCDE",
      std::string("%" + std::to_string(2 * sizeof(void*) + 3) + "p").c_str(),
      pointer);
}

TEST(MsvcrtBinding, VfprintfRefusesWhatMsvcrtDoesNot) {
  MsvcrtFile* iob = Iob();
  int count = 0;
  for (const char* format :
       {"%n", "%y", "%", "abc%", "%zd", "%jd", "%hhd", "%F", "%a", "%Ld", "%wd",
        "%I64s", "%I64f", "%hf", "%ls%"}) {
    errno = 0;
    int result = 0;
    std::string text = Formatted(&result, format, &count, 1.0);
    EXPECT_EQ(result, -1) << format;
    EXPECT_EQ(errno, EINVAL) << format;
    EXPECT_EQ(text, "") << format;
  }
  EXPECT_EQ(count, 0);
  // Wide text the "C" locale cannot narrow.
  errno = 0;
  EXPECT_EQ(Printf(&iob[1], "%S", u"\u0100"), -1);
  EXPECT_EQ(errno, EILSEQ);
  errno = 0;
  EXPECT_EQ(Printf(&iob[1], "%C", 0x263A), -1);
  EXPECT_EQ(errno, EILSEQ);
}

TEST(MsvcrtBinding, InittermCallsEachInitializerInOrderSkippingNulls) {
  using Initializer = void (*)(void);
  using Initterm = void (*)(Initializer*, Initializer*);
  auto initterm = Bound<Initterm>("_initterm");
  static std::string calls;
  calls.clear();
  Initializer table[] = {[] { calls += "a"; }, nullptr, [] { calls += "b"; },
                         nullptr, [] { calls += "c"; }};
  initterm(table, table + 5);
  EXPECT_EQ(calls, "abc");
  initterm(table + 2, table + 3);
  EXPECT_EQ(calls, "abcb");
  initterm(table, table);
  EXPECT_EQ(calls, "abcb");
}

// The scheduler's state of a thread of this process ('R', 'S', ...), or 0
// once it has ended.
char ThreadState(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)),
                   std::istreambuf_iterator<char>());
  // The state follows the command name, which ends at the last ')'.
  const size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return 0;
  return text[close + 2];
}

// Waits for a thread, once it has said who it is (a tid other than 0), to
// go to sleep in the kernel, where a thread blocked on a held lock waits.
// False if it ends first, or is still awake after a million looks (a lock
// that spins for ever).
bool AsleepInTheKernel(const std::atomic<pid_t>& tid) {
  for (int i = 0; i < 1000000; ++i) {
    if (tid != 0) {
      const char state = ThreadState(tid);
      if (state == 'S') return true;
      if (state == 0) return false;
    }
    std::this_thread::yield();
  }
  return false;
}

TEST(MsvcrtBinding, RuntimeLocksAreRecursiveAndExcludeOtherThreads) {
  using Lock = void (*)(int);
  auto lock = Bound<Lock>("_lock");
  auto unlock = Bound<Lock>("_unlock");
  lock(8);
  lock(8);  // mingw's exit-table lock, taken again on the same thread
  std::atomic<bool> entered{false};
  std::atomic<pid_t> waiter{0};
  std::thread other([&] {
    waiter = static_cast<pid_t>(syscall(SYS_gettid));
    lock(8);
    entered = true;
    unlock(8);
  });
  // The other thread asleep in lock(8), held here twice.
  ASSERT_TRUE(AsleepInTheKernel(waiter));
  EXPECT_FALSE(entered);
  unlock(8);
  // Still held once: the unlock woke nobody, the thread sleeps on. A
  // woken thread is runnable as soon as the waking call returns.
  EXPECT_EQ(ThreadState(waiter), 'S');
  EXPECT_FALSE(entered);
  unlock(8);
  other.join();
  EXPECT_TRUE(entered);
  // Distinct numbers are distinct locks.
  lock(1);
  std::thread another([&] {
    lock(2);
    unlock(2);
  });
  another.join();
  unlock(1);
}

TEST(MsvcrtBinding, MemoryAndStringsAreTheCLibrarys) {
  using Calloc = void* (*)(size_t, size_t);
  using Realloc = void* (*)(void*, size_t);
  using Free = void (*)(void*);
  using Strlen = size_t (*)(const char*);
  using Strncmp = int (*)(const char*, const char*, size_t);
  auto callocBound = Bound<Calloc>("calloc");
  auto reallocBound = Bound<Realloc>("realloc");
  auto freeBound = Bound<Free>("free");
  auto* block = static_cast<unsigned char*>(callocBound(4, 8));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(block[i], 0);
  block = static_cast<unsigned char*>(reallocBound(block, 64));
  ASSERT_NE(block, nullptr);
  freeBound(block);
  freeBound(nullptr);
  errno = 0;
  EXPECT_EQ(callocBound(SIZE_MAX, 2), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(Bound<Strlen>("strlen")("korvex"), 6u);
  auto strncmpBound = Bound<Strncmp>("strncmp");
  EXPECT_EQ(strncmpBound("abcx", "abcy", 3), 0);
  EXPECT_LT(strncmpBound("abcx", "abcy", 4), 0);
}

TEST(MsvcrtBindingDeathTest, AmsgExitReportsTheRuntimeErrorAndExits255) {
  using AmsgExit = void (*)(int);
  auto amsgExit = Bound<AmsgExit>("_amsg_exit");
  EXPECT_EXIT(amsgExit(31), testing::ExitedWithCode(255),
              "runtime error R6031");
}

TEST(MsvcrtBindingDeathTest, AbortRaisesSigabrt) {
  using Abort = void (*)(void);
  auto abortBound = Bound<Abort>("abort");
  EXPECT_EXIT(abortBound(), testing::KilledBySignal(SIGABRT), "");
}

TEST(MsvcrtBindingDeathTest, LockNumbersOutsideTheTableAreARuntimeError) {
  using Lock = void (*)(int);
  auto lock = Bound<Lock>("_lock");
  EXPECT_EXIT(lock(48), testing::ExitedWithCode(255), "runtime error R6017");
  EXPECT_EXIT(lock(-1), testing::ExitedWithCode(255), "runtime error R6017");
}

}  // namespace
