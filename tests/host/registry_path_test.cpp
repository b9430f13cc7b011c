// A --registry that is a symbolic link: the host works on the file the link
// names, so the link keeps pointing at the registry every other user of the
// link or of its target sees, and all of them share one database log.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "host/host_runner.h"

namespace {

namespace fs = std::filesystem;
using hosttest::HostSandbox;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

std::string ImportFile(const HostSandbox& sandbox, const char* key) {
  return sandbox
      .Write(std::string(key) + ".reg",
             std::string(kHeader) + "[HKEY_CURRENT_USER\\" + key + "]\r\n")
      .string();
}

TEST(HostRegistryPath, WritesThroughALinkUpdateItsTarget) {
  HostSandbox sandbox;
  ASSERT_TRUE(sandbox.SeedRegistry(std::string(kHeader) +
                                   "[HKEY_CURRENT_USER\\Before]\r\n"));
  fs::create_directory(sandbox.root() / "links");
  const fs::path link = sandbox.root() / "links" / "registry.db";
  fs::create_symlink("../registry.db", link);

  for (const char* key : {"First", "Second"}) {
    hosttest::HostRun run = sandbox.Run({"--registry", link.string(), "reg",
                                         "import", ImportFile(sandbox, key)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }
  EXPECT_TRUE(fs::is_symlink(link));
  const std::string text = sandbox.RegistryText();
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Before]"), std::string::npos)
      << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\First]"), std::string::npos) << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Second]"), std::string::npos)
      << text;
  // The log lives beside the target, shared by users of either name.
  EXPECT_FALSE(fs::exists(link.string() + "-wal"));
}

TEST(HostRegistryPath, LinkToAFileNotYetMadeCreatesItsTarget) {
  HostSandbox sandbox;
  fs::create_directory(sandbox.root() / "real");
  fs::create_directory(sandbox.root() / "links");
  // The target's directory is itself reached through a link.
  fs::create_directory_symlink(sandbox.root() / "real", sandbox.root() / "via");
  const fs::path link = sandbox.root() / "links" / "registry.db";
  fs::create_symlink(sandbox.root() / "via" / "new.db", link);

  hosttest::HostRun run = sandbox.Run({"--registry", link.string(), "reg",
                                       "import", ImportFile(sandbox, "Made")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(link));
  const fs::path target = sandbox.root() / "real" / "new.db";
  EXPECT_TRUE(fs::is_regular_file(target));
  hosttest::HostRun exported =
      sandbox.Run({"--registry", target.string(), "reg", "export"});
  EXPECT_NE(exported.out.find("[HKEY_CURRENT_USER\\Made]"),
            std::string::npos);
}

}  // namespace
