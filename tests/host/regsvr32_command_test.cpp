// qxhost regsvr32: a library that cannot be loaded or has no registration
// export is a usage error; the server's status is the last line of stdout.
// Hosts registering one library at once take turns.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "host/host_runner.h"

namespace {

// A registry with one key of no one's, so that it exists.
constexpr char kSeed[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\QxHostTestSeed]\r\n";

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

// Two hosts, in sandboxes of their own but with one registry, register the
// library at once, round after round: the server's script removes its keys
// before it writes them again, so two at once would remove each other's
// half-written keys. Both succeed and the class is creatable after.
TEST(HostRegsvr32, TwoRegistrationsAtOnceBothSucceed) {
  HostSandbox shared;
  fs::create_directory(shared.root() / "bin");
  shared.environment()["PATH"] = (shared.root() / "bin").string();
  HostSandbox first;
  HostSandbox second;
  auto registration = [&](const HostSandbox& host) {
    return host.Run({"--registry", shared.registry().string(), "regsvr32",
                     QX_LIBRARY_PATH});
  };
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // The database with its write-ahead log, as a new user has none.
    for (const char* suffix : {"", "-wal", "-shm"})
      fs::remove(shared.registry().string() + suffix);
    // Made before the hosts start: two hosts making one database at once
    // is not what this test is about.
    ASSERT_TRUE(shared.SeedRegistry(kSeed));
    HostRun a;
    HostRun b;
    std::thread other([&] { b = registration(second); });
    a = registration(first);
    other.join();
    EXPECT_EQ(LastLine(a.out), "0x00000000") << a.err;
    EXPECT_EQ(LastLine(b.out), "0x00000000") << b.err;
    HostRun call =
        shared.RunWithRegistry({"call", "QxKorvex.InstallKorvex", "install"});
    EXPECT_EQ(LastLine(call.out), "-2") << call.err;
    if (HasFailure()) break;
  }
}

}  // namespace
