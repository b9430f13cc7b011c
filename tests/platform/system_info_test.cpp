// Version and processor information and their controls, the last error,
// critical sections and interlocked counters.
#include <string.h>
#include <windows.h>

#include <thread>
#include <vector>

#include "support/platform_fixture.h"

namespace {

class SystemInfoTest : public PlatformTest {};

TEST_F(SystemInfoTest, DefaultVersionIsWindows7ServicePack1) {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_EQ(info.dwMajorVersion, 6u);
  EXPECT_EQ(info.dwMinorVersion, 1u);
  EXPECT_EQ(info.dwBuildNumber, 7601u);
  EXPECT_STREQ(info.szCSDVersion, "Service Pack 1");
}

TEST_F(SystemInfoTest, ExtendedRecordIsAccepted) {
  OSVERSIONINFOEXA info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)));
  EXPECT_EQ(info.wServicePackMajor, 1);
}

TEST_F(SystemInfoTest, WrongRecordSizeFailsWithInsufficientBuffer) {
  OSVERSIONINFOEXA info = {};
  for (DWORD size : {0u, 147u, 149u, 157u}) {
    info.dwOSVersionInfoSize = size;
    SetLastError(0);
    EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  }
}

TEST_F(SystemInfoTest, SetVersionChangesWhatIsReportedUntilReset) {
  qxplatform::SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwMajorVersion, 4u);
  EXPECT_EQ(info.dwMinorVersion, 0u);
  qxplatform::ResetControls();
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwMajorVersion, 6u);
}

TEST_F(SystemInfoTest, ProcessorCountDefaultsToTheMachineAndCanBeSet) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  EXPECT_EQ(info.dwNumberOfProcessors, std::thread::hardware_concurrency());
  qxplatform::SetProcessorCount(3);
  GetSystemInfo(&info);
  EXPECT_EQ(info.dwNumberOfProcessors, 3u);
  EXPECT_EQ(info.dwActiveProcessorMask, 7u);
  EXPECT_EQ(info.dwPageSize, 4096u);
}

// A process is told of the processor its own code runs on.
TEST_F(SystemInfoTest, ArchitectureIsTheProcesss) {
  SYSTEM_INFO info;
  memset(&info, 0xAB, sizeof(info));
  GetSystemInfo(&info);
  if (sizeof(void*) == 8) {
    EXPECT_EQ(info.wProcessorArchitecture, 9);  // AMD64
    EXPECT_EQ(info.dwProcessorType, 8664u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(info.lpMaximumApplicationAddress),
              static_cast<uintptr_t>(0x00007FFFFFFEFFFFull));
  } else {
    EXPECT_EQ(info.wProcessorArchitecture, 0);  // Intel x86
    EXPECT_EQ(info.dwProcessorType, 586u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(info.lpMaximumApplicationAddress),
              static_cast<uintptr_t>(0x7FFEFFFFu));
  }
  EXPECT_EQ(info.wReserved, 0);
}

TEST_F(SystemInfoTest, LastErrorIsPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOtherThread = 1;
  std::thread other([&] { seenByOtherThread = GetLastError(); });
  other.join();
  EXPECT_EQ(seenByOtherThread, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(SystemInfoTest, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        EnterCriticalSection(&section);
        EnterCriticalSection(&section);  // recursion on the same thread
        counter = counter + 1;
        LeaveCriticalSection(&section);
        LeaveCriticalSection(&section);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  DeleteCriticalSection(&section);
  EXPECT_EQ(counter, 40000);
}

TEST_F(SystemInfoTest, InterlockedOperationsReturnTheDocumentedValues) {
  LONG volatile value = 5;
  EXPECT_EQ(InterlockedIncrement(&value), 6);
  EXPECT_EQ(InterlockedDecrement(&value), 5);
  EXPECT_EQ(InterlockedExchange(&value, 9), 5);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 8), 9);  // no match
  EXPECT_EQ(value, 9);
  EXPECT_EQ(InterlockedCompareExchange(&value, 1, 9), 9);
  EXPECT_EQ(value, 1);
  EXPECT_NE(GetCurrentThreadId(), 0u);
  EXPECT_NE(GetCurrentProcessId(), 0u);
}

TEST_F(SystemInfoTest, PointerInterlockedOperationsReturnTheValueFound) {
  int first = 0;
  int second = 0;
  PVOID volatile slot = nullptr;
  EXPECT_EQ(InterlockedCompareExchangePointer(&slot, &first, &second),
            nullptr);  // no match
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(InterlockedCompareExchangePointer(&slot, &first, nullptr),
            nullptr);
  EXPECT_EQ(slot, &first);
  EXPECT_EQ(InterlockedExchangePointer(&slot, &second), &first);
  EXPECT_EQ(slot, &second);
}

}  // namespace
