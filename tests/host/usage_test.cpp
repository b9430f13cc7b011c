// qxhost's command line: every usage error is one line on stderr and exit
// code 2, and touches no registry.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/host_runner.h"

namespace {

using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::kExitFailure;
using hosttest::kExitUsage;
using hosttest::Lines;

void ExpectUsageError(const HostSandbox& sandbox, const HostRun& run) {
  EXPECT_EQ(run.exitCode, kExitUsage) << run.err;
  EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_FALSE(std::filesystem::exists(sandbox.registry()));
  EXPECT_FALSE(std::filesystem::exists(sandbox.root() / "state"));
}

TEST(HostUsage, MissingOrUnknownCommand) {
  HostSandbox sandbox;
  ExpectUsageError(sandbox, sandbox.Run({}));
  ExpectUsageError(sandbox, sandbox.RunWithRegistry({}));
  ExpectUsageError(sandbox, sandbox.RunWithRegistry({"frobnicate"}));
}

TEST(HostUsage, BadSystemOverrides) {
  HostSandbox sandbox;
  for (const char* system : {"nt4", "nt-4", "xp-5.1", "nt-.1", "nt-4.x"}) {
    ExpectUsageError(
        sandbox, sandbox.RunWithRegistry({"--os", system, "reg", "export"}));
  }
  ExpectUsageError(
      sandbox, sandbox.RunWithRegistry({"--processors", "0", "reg", "export"}));
  ExpectUsageError(sandbox, sandbox.RunWithRegistry(
                                {"--processors", "two", "reg", "export"}));
}

TEST(HostUsage, BadGlobalOptions) {
  HostSandbox sandbox;
  ExpectUsageError(sandbox, sandbox.Run({"--loud", "reg", "export"}));
  ExpectUsageError(sandbox, sandbox.Run({"--registry"}));
  ExpectUsageError(sandbox, sandbox.Run({"--registry=", "reg", "export"}));
  ExpectUsageError(sandbox, sandbox.RunWithRegistry({"--acp"}));
  ExpectUsageError(sandbox,
                   sandbox.RunWithRegistry({"--acp", "850", "reg", "export"}));
  ExpectUsageError(
      sandbox, sandbox.RunWithRegistry({"--acp", "cp932", "reg", "export"}));
}

TEST(HostUsage, BadRegArguments) {
  HostSandbox sandbox;
  ExpectUsageError(sandbox, sandbox.RunWithRegistry({"reg"}));
  ExpectUsageError(sandbox, sandbox.RunWithRegistry({"reg", "import"}));
  ExpectUsageError(sandbox,
                   sandbox.RunWithRegistry({"reg", "import", "a", "b"}));
  ExpectUsageError(sandbox,
                   sandbox.RunWithRegistry({"reg", "export", "HKCR", "x"}));
  ExpectUsageError(sandbox, sandbox.RunWithRegistry({"reg", "delete"}));
}

// A file that cannot be read is a failure, not a usage error.
TEST(HostUsage, UnreadableRegFile) {
  HostSandbox sandbox;
  HostRun run = sandbox.RunWithRegistry(
      {"reg", "import", (sandbox.root() / "missing.reg").string()});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
  EXPECT_FALSE(std::filesystem::exists(sandbox.registry()));
}

TEST(HostUsage, BadCallArguments) {
  HostSandbox sandbox;
  const std::string clsid = "{EC68AD82-001E-4396-9CDC-ED264E512EE4}";
  ExpectUsageError(sandbox, sandbox.RunWithRegistry({"call", clsid}));
  ExpectUsageError(sandbox, sandbox.RunWithRegistry({"call", "", "install"}));
  ExpectUsageError(sandbox, sandbox.RunWithRegistry(
                                {"call", "--library", QX_LIBRARY_PATH, clsid}));
  // A ProgID needs the registry, which --library goes without.
  ExpectUsageError(
      sandbox, sandbox.RunWithRegistry({"call", "--library", QX_LIBRARY_PATH,
                                        "QxKorvex.InstallKorvex", "install"}));
  ExpectUsageError(sandbox, sandbox.RunWithRegistry({"call", "--library"}));
  ExpectUsageError(
      sandbox, sandbox.RunWithRegistry(
                   {"call", "--library", QX_LIBRARY_PATH, clsid, "uninstall"}));
  ExpectUsageError(
      sandbox, sandbox.RunWithRegistry({"call", "--library", QX_LIBRARY_PATH,
                                        "--threads", "2", clsid, "install"}));
}

TEST(HostUsage, BadRegsvr32Arguments) {
  HostSandbox sandbox;
  ExpectUsageError(sandbox, sandbox.RunWithRegistry({"regsvr32"}));
  ExpectUsageError(sandbox, sandbox.RunWithRegistry({"regsvr32", "-u"}));
  ExpectUsageError(
      sandbox, sandbox.RunWithRegistry({"regsvr32", "-s", QX_LIBRARY_PATH}));
  ExpectUsageError(
      sandbox,
      sandbox.RunWithRegistry({"regsvr32", QX_LIBRARY_PATH, QX_LIBRARY_PATH}));
}

TEST(HostUsage, MalformedClassIds) {
  HostSandbox sandbox;
  const char* const kBad[] = {
      "EC68AD82-001E-4396-9CDC-ED264E512EE4",     // no braces
      "{EC68AD82-001E-4396-9CDC-ED264E512EE4",    // no closing brace
      "{EC68AD82-001E-4396-9CDC-ED264E512EE}",    // 11 digits at the end
      "{EC68AD82-001E-4396-9CDC-ED264E512EE4X}",  // one too many
      "{EC68AD8-2001E-4396-9CDC-ED264E512EE4}",   // dash moved
      "{EC68AD82-001E-4396-9CDC_ED264E512EE4}",   // wrong separator
      "{EC68AD82-001E-4396-9CDC-ED264E512EG4}",   // not hex
      "{ec68ad82 001e 4396 9cdc ed264e512ee4}",  "",
  };
  for (const char* clsid : kBad) {
    SCOPED_TRACE(clsid);
    ExpectUsageError(
        sandbox, sandbox.RunWithRegistry(
                     {"call", "--library", QX_LIBRARY_PATH, clsid, "install"}));
  }
}

TEST(HostUsage, HelpGoesToStdoutAndSucceeds) {
  HostSandbox sandbox;
  HostRun run = sandbox.Run({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("usage: qxhost"), std::string::npos);
  EXPECT_TRUE(run.err.empty());
}

}  // namespace
