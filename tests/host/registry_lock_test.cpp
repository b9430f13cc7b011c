// Two processes on one registry file: a host waits while another process
// holds the file's lock and then works on what that process wrote, so
// neither process's changes are lost.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
// How long a host that is refused its input is given to finish.
constexpr auto kPromptExit = std::chrono::seconds(10);
constexpr useconds_t kPollMicroseconds = 10000;

// Waits until pid ends (true, with *status), or until some process holds
// the lock on lockPath or the time is up (false).
bool WaitForEndOrLock(pid_t pid, const std::string& lockPath, int* status) {
  const auto deadline = std::chrono::steady_clock::now() + kPromptExit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, status, WNOHANG) == pid) return true;
    int probe = open(lockPath.c_str(), O_RDONLY);
    if (probe >= 0) {
      bool held = flock(probe, LOCK_SH | LOCK_NB) != 0;
      close(probe);
      if (held) return false;
    }
    usleep(kPollMicroseconds);
  }
  return false;
}

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

// A .reg file that is a FIFO with no writer: the host refuses it before it
// locks the registry, so it neither hangs nor keeps another host waiting.
TEST(HostRegistryLock, ImportOfAFifoKeepsNoOtherHostWaiting) {
  HostSandbox sandbox;
  sandbox.SetTimeout(kPromptExit);
  const std::string registry = sandbox.registry().string();
  const std::string fifo = (sandbox.root() / "pipe.reg").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  std::string qxhost = QX_QXHOST_PATH;
  std::string registryOption = "--registry";
  std::string reg = "reg", import = "import";
  char* argv[] = {
      &qxhost[0], &registryOption[0], const_cast<char*>(registry.c_str()),
      &reg[0],    &import[0],         const_cast<char*>(fifo.c_str()),
      nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t first = 0;
  ASSERT_EQ(
      posix_spawn(&first, qxhost.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  int status = -1;
  bool ended = WaitForEndOrLock(first, registry + ".lock", &status);
  const std::string other =
      sandbox
          .Write("other.reg",
                 std::string(kHeader) + "[HKEY_CURRENT_USER\\Other]\r\n")
          .string();
  EXPECT_EQ(sandbox.RunWithRegistry({"reg", "import", other}).exitCode, 0)
      << "a second host was kept waiting";

  if (!ended && waitpid(first, &status, WNOHANG) != first) {
    kill(first, SIGKILL);
    waitpid(first, &status, 0);
    ADD_FAILURE() << "the host importing a FIFO did not finish";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_NE(ReadFile(sandbox.registry()).find("[HKEY_CURRENT_USER\\Other]"),
            std::string::npos);
}

}  // namespace
