// The loader: DllMain on the first load and the last free, shared records
// for repeated loads, refused starts, data-file loads that run no code, and
// the module name and procedure lookups.
#include <dlfcn.h>
#include <libgen.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <oleauto.h>
#include <windows.h>

#include <string>
#include <thread>

#include "support/platform_fixture.h"

namespace {

constexpr char kProbePath[] = QX_LOADER_PROBE_PATH;
constexpr char kRefusingProbePath[] = QX_LOADER_PROBE_REFUSES_PATH;
constexpr char kEventVariable[] = "QX_LOADER_PROBE_EVENTS";

typedef long (*CountProc)();
typedef HINSTANCE (*InstanceProc)();
typedef BOOL (*FlagProc)();
typedef void (*StayProc)();

// Bounded wait for a worker thread to get inside the probe.
constexpr int kPollIntervalMicroseconds = 1000;
constexpr int kPollAttempts = 10000;

// A procedure of the probe under its real type.
template <typename Proc>
Proc Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(
      reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class LoaderTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    unsetenv(kEventVariable);
  }

  static std::string Events() {
    const char* events = getenv(kEventVariable);
    return events != nullptr ? events : "";
  }

  static long AttachCount(HMODULE module) {
    auto count = Lookup<CountProc>(module, "ProbeAttachCount");
    return count != nullptr ? count() : -1;
  }

  // Whether the file is mapped into the process as a shared object.
  static bool IsMapped(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
  }
};

TEST_F(LoaderTest, SecondLoadSharesTheModuleAndAttachesOnce) {
  HMODULE first = LoadLibraryA(kProbePath);
  ASSERT_NE(first, nullptr);
  HMODULE second = LoadLibraryA(kProbePath);
  EXPECT_EQ(second, first);
  EXPECT_EQ(AttachCount(first), 1);
  EXPECT_EQ(Events(), "A");
  auto instance = Lookup<InstanceProc>(first, "ProbeInstance");
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance(), first);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(Events(), "A");
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_EQ(Events(), "AD");
  EXPECT_FALSE(IsMapped(kProbePath));
}

// The probe prints its events when it hears that the process is ending.
TEST_F(LoaderTest, LibrariesStillLoadedHearOfANormalProcessExit) {
  EXPECT_EXIT(
      {
        if (LoadLibraryA(kProbePath) == nullptr) _exit(2);
        exit(0);
      },
      ::testing::ExitedWithCode(0), "events=AX");
}

// A host whose worker is still inside a library when main returns: the real
// system ends the worker before the library hears of the exit; here the
// worker runs on, so the library must not be told to clean up under it.
TEST_F(LoaderTest, ExitWhileAnotherThreadIsInsideALibraryLeavesItAlone) {
  EXPECT_EXIT(
      {
        HMODULE module = LoadLibraryA(kProbePath);
        if (module == nullptr) _exit(2);
        auto stay = Lookup<StayProc>(module, "ProbeStayInside");
        auto inside = Lookup<CountProc>(module, "ProbeCallersInside");
        if (stay == nullptr || inside == nullptr) _exit(3);
        std::thread(stay).detach();
        for (int i = 0; inside() == 0; ++i) {
          if (i == kPollAttempts) _exit(4);
          usleep(kPollIntervalMicroseconds);
        }
        exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// Workers that have finished and been joined hold nothing back.
TEST_F(LoaderTest, ExitAfterTheWorkerIsJoinedStillDetaches) {
  EXPECT_EXIT(
      {
        HMODULE module = LoadLibraryA(kProbePath);
        if (module == nullptr) _exit(2);
        auto count = Lookup<CountProc>(module, "ProbeAttachCount");
        if (count == nullptr) _exit(3);
        std::thread([count] { count(); }).join();
        exit(0);
      },
      ::testing::ExitedWithCode(0), "events=AX");
}

TEST_F(LoaderTest, ReloadAfterTheLastFreeAttachesAgain) {
  HMODULE module = LoadLibraryA(kProbePath);
  ASSERT_NE(module, nullptr);
  FreeLibrary(module);
  module = LoadLibraryA(kProbePath);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(AttachCount(module), 1);  // a fresh copy of the library
  EXPECT_EQ(Events(), "ADA");
  FreeLibrary(module);
}

TEST_F(LoaderTest, DllMainMayCallThePlatformUnderTheLoaderLock) {
  HMODULE module = LoadLibraryA(kProbePath);
  ASSERT_NE(module, nullptr);
  auto worked = Lookup<FlagProc>(module, "ProbePlatformCallsWorked");
  ASSERT_NE(worked, nullptr);
  EXPECT_TRUE(worked());
  FreeLibrary(module);
}

TEST_F(LoaderTest, RefusedStartFailsTheLoadAndUnloads) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA(kRefusingProbePath), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  EXPECT_EQ(Events(), "AD");
  EXPECT_FALSE(IsMapped(kRefusingProbePath));
  EXPECT_EQ(GetModuleHandleA(kRefusingProbePath), nullptr);
}

TEST_F(LoaderTest, DataFileLoadRunsNoCode) {
  HMODULE data =
      LoadLibraryExA(kProbePath, /*hFile=*/nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(Events(), "");
  EXPECT_FALSE(IsMapped(kProbePath));
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(data, "ProbeAttachCount"), nullptr);
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_EQ(GetModuleHandleA(kProbePath), nullptr);
  EXPECT_TRUE(FreeLibrary(data));
  EXPECT_FALSE(FreeLibrary(data));
}

TEST_F(LoaderTest, DataFileLoadOfALoadedLibraryCountsOnTheLibrary) {
  HMODULE image = LoadLibraryA(kProbePath);
  ASSERT_NE(image, nullptr);
  HMODULE data = LoadLibraryExA(kProbePath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  EXPECT_EQ(data, image);
  FreeLibrary(image);
  EXPECT_EQ(Events(), "A");  // the data load still holds it
  FreeLibrary(data);
  EXPECT_EQ(Events(), "AD");
}

TEST_F(LoaderTest, MissingLibraryAndProcedure) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("/nonexistent/libnothing.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("libqx_surely_missing.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(LoadLibraryExA(kProbePath, nullptr,
                           LOAD_LIBRARY_AS_DATAFILE | 0x80000000),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  HMODULE module = LoadLibraryA(kProbePath);
  ASSERT_NE(module, nullptr);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(module, "NoSuchProcedure"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  FreeLibrary(module);
}

TEST_F(LoaderTest, NotALibraryIsABadImage) {
  SetLastError(0);
  std::string source =
      std::string(QX_SOURCE_DIR) + "/tests/platform/loader_test.cpp";
  EXPECT_EQ(LoadLibraryA(source.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  const std::string said = qxplatform::LastLoadFailure();
  EXPECT_EQ(said.rfind("cannot load " + source + ": ", 0), 0u) << said;
  EXPECT_GT(said.size(), ("cannot load " + source + ": ").size()) << said;
}

TEST_F(LoaderTest, RefusedLoadsSayWhyThroughTheControl) {
  EXPECT_EQ(qxplatform::LastLoadFailure(), "");
  EXPECT_EQ(LoadLibraryA("/nonexistent/libnothing.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(qxplatform::LastLoadFailure(),
            "cannot load /nonexistent/libnothing.so: there is no such file");

  EXPECT_EQ(LoadLibraryA("libqx_surely_missing.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(qxplatform::LastLoadFailure().rfind(
                "cannot load libqx_surely_missing.so: there is no such file", 0),
            0u)
      << qxplatform::LastLoadFailure();

  EXPECT_EQ(LoadLibraryA(kRefusingProbePath), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  const std::string refused = qxplatform::LastLoadFailure();
  const std::string probe = kRefusingProbePath;
  EXPECT_NE(refused.find(probe.substr(probe.rfind('/') + 1)),
            std::string::npos)
      << refused;
  EXPECT_NE(refused.find("refused to start"), std::string::npos) << refused;

  // A load that works leaves the last refusal as it is, as it leaves the
  // last error; ResetControls forgets it.
  HMODULE module = LoadLibraryA(kProbePath);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(qxplatform::LastLoadFailure(), refused);
  FreeLibrary(module);
  qxplatform::ResetControls();
  EXPECT_EQ(qxplatform::LastLoadFailure(), "");

  EXPECT_EQ(LoadLibraryA(""), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(qxplatform::LastLoadFailure(),
            "cannot load a library: no name was given");
}

TEST_F(LoaderTest, TheLastRefusalBelongsToTheThreadThatAsked) {
  EXPECT_EQ(LoadLibraryA("/nonexistent/libnothing.so"), nullptr);
  std::string onWorker = "unset";
  std::thread worker([&onWorker] {
    onWorker = qxplatform::LastLoadFailure();
    LoadLibraryA("/nonexistent/libother.so");
  });
  worker.join();
  EXPECT_EQ(onWorker, "");
  EXPECT_EQ(qxplatform::LastLoadFailure(),
            "cannot load /nonexistent/libnothing.so: there is no such file");
}

TEST_F(LoaderTest, HandlesThatAreNotModulesAreRefused) {
  int notAModule = 0;
  HMODULE bogus = reinterpret_cast<HMODULE>(&notAModule);
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(bogus));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(bogus, "x"), nullptr);
  char path[MAX_PATH];
  EXPECT_EQ(GetModuleFileNameA(bogus, path, MAX_PATH), 0u);
  EXPECT_FALSE(DisableThreadLibraryCalls(bogus));
}

TEST_F(LoaderTest, ModuleFileNameIsTheFullPathAsLoaded) {
  HMODULE module = LoadLibraryA(kProbePath);
  ASSERT_NE(module, nullptr);
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  EXPECT_EQ(length, strlen(kProbePath));
  EXPECT_STREQ(path, kProbePath);
  EXPECT_EQ(GetModuleHandleA(kProbePath), module);
  char copy[MAX_PATH];
  strcpy(copy, kProbePath);
  EXPECT_EQ(GetModuleHandleA(basename(copy)), module);
  FreeLibrary(module);
}

TEST_F(LoaderTest, ModuleFileNameTruncatesAsWindowsDoes) {
  char expected[4096];
  ssize_t length = readlink("/proc/self/exe", expected, sizeof(expected) - 1);
  ASSERT_GT(length, 4);
  expected[length] = '\0';
  char path[4096];
  EXPECT_EQ(GetModuleFileNameA(nullptr, path, sizeof(path)),
            static_cast<DWORD>(length));
  EXPECT_STREQ(path, expected);
  char small[5];
  memset(small, 'x', sizeof(small));
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof(small)), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(memcmp(small, expected, 4), 0);
  EXPECT_EQ(small[4], '\0');
}

TEST_F(LoaderTest, BareNameIsFoundInTheCurrentDirectory) {
  char directory[4096];
  strcpy(directory, kProbePath);
  ASSERT_EQ(chdir(dirname(directory)), 0);
  char name[4096];
  strcpy(name, kProbePath);
  HMODULE module = LoadLibraryA(basename(name));
  ASSERT_NE(module, nullptr);
  char path[MAX_PATH];
  GetModuleFileNameA(module, path, MAX_PATH);
  EXPECT_STREQ(path, kProbePath);
  FreeLibrary(module);
}

TEST_F(LoaderTest, SystemLibraryNamesAreServedByThePlatform) {
  HMODULE automation = LoadLibraryA("OLEAUT32.DLL");
  ASSERT_NE(automation, nullptr);
  EXPECT_EQ(GetModuleHandleA("kernel32.dll"), automation);
  EXPECT_EQ(
      reinterpret_cast<void*>(GetProcAddress(automation, "SysAllocString")),
      reinterpret_cast<void*>(&SysAllocString));
  EXPECT_TRUE(FreeLibrary(automation));
  EXPECT_NE(GetProcAddress(automation, "SysFreeString"), nullptr);  // pinned
}

}  // namespace
