// Two processes on one registry file: a host waits while another process
// holds the file's lock and then works on what that process wrote, so
// neither process's changes are lost.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "host/host_runner.h"

extern char** environ;

namespace {

using hosttest::HostSandbox;
using hosttest::ReadFile;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";
// How long the blocked host is given to finish if it were not blocked.
constexpr useconds_t kBlockedWindowMicroseconds = 300000;

TEST(HostRegistryLock, HostWaitsForTheLockAndKeepsTheOtherWritersChanges) {
  HostSandbox sandbox;
  const std::string registry = sandbox.registry().string();
  const std::string mine =
      sandbox
          .Write("mine.reg",
                 std::string(kHeader) + "[HKEY_CURRENT_USER\\Mine]\r\n")
          .string();

  int lockFd = open((registry + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(lockFd, 0);
  ASSERT_EQ(flock(lockFd, LOCK_EX), 0);

  std::string qxhost = QX_QXHOST_PATH;
  std::string registryOption = "--registry";
  std::string reg = "reg", import = "import";
  char* argv[] = {
      &qxhost[0], &registryOption[0], const_cast<char*>(registry.c_str()),
      &reg[0],    &import[0],         const_cast<char*>(mine.c_str()),
      nullptr};
  pid_t host = 0;
  ASSERT_EQ(posix_spawn(&host, qxhost.c_str(), nullptr, nullptr, argv, environ),
            0);

  // While the lock is held the host may not even have read the file.
  usleep(kBlockedWindowMicroseconds);
  int status = 0;
  EXPECT_EQ(waitpid(host, &status, WNOHANG), 0) << "the host did not wait";

  // The other writer's change, made under the lock.
  std::ofstream(registry, std::ios::binary)
      << kHeader << "[HKEY_CURRENT_USER\\Theirs]\r\n\"v\"=\"1\"\r\n";
  ASSERT_EQ(flock(lockFd, LOCK_UN), 0);
  close(lockFd);

  ASSERT_EQ(waitpid(host, &status, 0), host);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string text = ReadFile(sandbox.registry());
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Theirs]"), std::string::npos)
      << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Mine]"), std::string::npos) << text;
}

}  // namespace
