// qxhost regsvr32: a library that cannot be loaded or has no registration
// export is a usage error; the server's status is the last line of stdout.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/host_runner.h"

namespace {

namespace fs = std::filesystem;
using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::kExitUsage;
using hosttest::LastLine;
using hosttest::Lines;

fs::path PlatformLibrary() {
  return fs::path(QX_LIBRARY_PATH).parent_path() / "libplatform.so";
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
}

}  // namespace
