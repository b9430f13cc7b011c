// qxhost regsvr32: a library that cannot be loaded or has no registration
// export is a usage error; the server's status is the last line of stdout.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/host_runner.h"

namespace {

namespace fs = std::filesystem;
using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::kExitFailure;
using hosttest::kExitUsage;
using hosttest::LastLine;
using hosttest::Lines;

fs::path PlatformLibrary() {
  return fs::path(QX_PLATFORM_PATH);
}

TEST(HostRegsvr32, LibraryWithoutTheExportIsAUsageError) {
  HostSandbox sandbox;
  ASSERT_TRUE(fs::exists(PlatformLibrary()));
  for (const char* flag : {"", "-u"}) {
    std::vector<std::string> arguments = {"regsvr32"};
    if (flag[0] != '\0') arguments.push_back(flag);
    arguments.push_back(PlatformLibrary().string());
    HostRun run = sandbox.RunWithRegistry(arguments);
    EXPECT_EQ(run.exitCode, kExitUsage) << flag;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_EQ(run.err.rfind("error: 0x8007007F", 0), 0u) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
}

TEST(HostRegsvr32, LibraryThatCannotBeLoadedIsAUsageError) {
  HostSandbox sandbox;
  HostRun run = sandbox.RunWithRegistry(
      {"regsvr32", (sandbox.root() / "nothing.so").string()});
  EXPECT_EQ(run.exitCode, kExitUsage);
  EXPECT_EQ(run.err.rfind("error: 0x8007007E", 0), 0u) << run.err;
  // The loader's reason, not only its code.
  EXPECT_NE(run.err.find("cannot load " + (sandbox.root() / "nothing.so").string() +
                         ": there is no such file"),
            std::string::npos)
      << run.err;
}

// The library's own registration makes its class creatable by ProgID, and
// its unregistration takes that away again.
TEST(HostRegsvr32, RegisteredLibraryIsCreatedByProgIdUntilUnregistered) {
  HostSandbox sandbox;
  fs::create_directory(sandbox.root() / "bin");
  sandbox.environment()["PATH"] = (sandbox.root() / "bin").string();

  HostRun registration = sandbox.RunWithRegistry({"regsvr32", QX_LIBRARY_PATH});
  ASSERT_EQ(registration.exitCode, 0) << registration.err;
  EXPECT_EQ(LastLine(registration.out), "0x00000000");

  HostRun call =
      sandbox.RunWithRegistry({"call", "QxKorvex.InstallKorvex", "install"});
  ASSERT_EQ(call.exitCode, 0) << call.err;
  EXPECT_EQ(LastLine(call.out), "-2");  // no installer on the search path

  HostRun removal =
      sandbox.RunWithRegistry({"regsvr32", "-u", QX_LIBRARY_PATH});
  ASSERT_EQ(removal.exitCode, 0) << removal.err;
  EXPECT_EQ(LastLine(removal.out), "0x00000000");

  call = sandbox.RunWithRegistry({"call", "QxKorvex.InstallKorvex", "install"});
  EXPECT_EQ(call.exitCode, kExitFailure);
  EXPECT_EQ(call.err.rfind("error: 0x800401F3", 0), 0u) << call.err;
}

// Unregistering what was never registered is no failure.
TEST(HostRegsvr32, UnregisteringAnUnregisteredLibrarySucceeds) {
  HostSandbox sandbox;
  HostRun run = sandbox.RunWithRegistry({"regsvr32", "-u", QX_LIBRARY_PATH});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LastLine(run.out), "0x00000000");
}

}  // namespace
