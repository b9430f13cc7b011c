// A --registry that is a symbolic link: the host works on the file the link
// names, so the link keeps pointing at the registry every other user of the
// link or of its target sees, and all of them take the same lock.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "host/host_runner.h"

namespace {

namespace fs = std::filesystem;
using hosttest::HostSandbox;
using hosttest::ReadFile;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

std::string ImportFile(const HostSandbox& sandbox, const char* key) {
  return sandbox
      .Write(std::string(key) + ".reg",
             std::string(kHeader) + "[HKEY_CURRENT_USER\\" + key + "]\r\n")
      .string();
}

TEST(HostRegistryPath, SaveThroughALinkUpdatesItsTarget) {
  HostSandbox sandbox;
  const fs::path target = sandbox.registry();
  sandbox.Write("registry.reg",
                std::string(kHeader) + "[HKEY_CURRENT_USER\\Before]\r\n");
  fs::create_directory(sandbox.root() / "links");
  const fs::path link = sandbox.root() / "links" / "registry.reg";
  fs::create_symlink("../registry.reg", link);

  for (const char* key : {"First", "Second"}) {
    hosttest::HostRun run = sandbox.Run({"--registry", link.string(), "reg",
                                         "import", ImportFile(sandbox, key)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }
  EXPECT_TRUE(fs::is_symlink(link));
  const std::string text = ReadFile(target);
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Before]"), std::string::npos)
      << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\First]"), std::string::npos) << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Second]"), std::string::npos)
      << text;
  EXPECT_FALSE(fs::exists(link.string() + ".lock"))
      << "users of the link and of the target lock different files";
  EXPECT_TRUE(fs::exists(target.string() + ".lock"));
}

TEST(HostRegistryPath, LinkToAFileNotYetMadeCreatesItsTarget) {
  HostSandbox sandbox;
  fs::create_directory(sandbox.root() / "real");
  fs::create_directory(sandbox.root() / "links");
  // The target's directory is itself reached through a link.
  fs::create_directory_symlink(sandbox.root() / "real", sandbox.root() / "via");
  const fs::path link = sandbox.root() / "links" / "registry.reg";
  fs::create_symlink(sandbox.root() / "via" / "new.reg", link);

  hosttest::HostRun run = sandbox.Run({"--registry", link.string(), "reg",
                                       "import", ImportFile(sandbox, "Made")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(link));
  const fs::path target = sandbox.root() / "real" / "new.reg";
  EXPECT_NE(ReadFile(target).find("[HKEY_CURRENT_USER\\Made]"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(target.string() + ".lock"));
}

}  // namespace
