// Input files that are not regular files of sensible size, given to every
// command that reads one and as the registry database itself: each is refused at
// once with a message naming it, before the registry is locked or loaded,
// and the registry is left as it was.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "host/host_runner.h"

namespace {

namespace fs = std::filesystem;
using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::kExitFailure;
using hosttest::ReadFile;
using hosttest::StatOf;

// Long enough for a slow (sanitized) host, short enough that a host that
// waits on a FIFO fails the test instead of hanging it.
constexpr std::chrono::seconds kRunLimit{30};
constexpr off_t kOversize = off_t{65} << 20;
// A .reg file to import may be larger: up to what one import takes.
constexpr off_t kOversizeImport = (off_t{1} << 30) + (off_t{1} << 20);

const char kSeed[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\QxSeed]\r\n\"v\"=\"1\"\r\n";

struct Kind {
  const char* name;
  const char* reason;  // what the message says about it
};

const Kind kKinds[] = {
    {"directory", "is a directory"},        {"fifo", "is not a regular file"},
    {"device", "is not a regular file"},    {"socket", "is not a regular file"},
    {"oversized", "is larger than 64 MiB"},
};

class HostInputFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    m_sandbox.SetTimeout(kRunLimit);
    fs::path seed = m_sandbox.Write("seed.reg", kSeed);
    ASSERT_EQ(
        m_sandbox.RunWithRegistry({"reg", "import", seed.string()}).exitCode,
        0);
    m_registryBytes = m_sandbox.RegistryText();
    m_registryInode = StatOf(m_sandbox.registry()).st_ino;
  }
  void TearDown() override {
    for (int socket : m_sockets) close(socket);
  }

  // A file of this kind; the device is /dev/zero, which never ends.
  std::string Make(const std::string& kind, const std::string& extension) {
    fs::path path = m_sandbox.root() / (kind + extension);
    if (kind == "directory") {
      fs::create_directory(path);
    } else if (kind == "fifo") {
      EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    } else if (kind == "device") {
      return "/dev/zero";
    } else if (kind == "socket") {
      int listener = socket(AF_UNIX, SOCK_STREAM, 0);
      m_sockets.push_back(listener);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      path.string().copy(address.sun_path, sizeof(address.sun_path) - 1);
      EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address),
                     sizeof(address)),
                0);
    } else {
      // Sparse: no disk is used for it.
      m_sandbox.Write(path.filename().string(), "");
      fs::resize_file(path, static_cast<uintmax_t>(
                                extension == ".reg" ? kOversizeImport : kOversize));
    }
    return path.string();
  }

  void ExpectRegistryUnchanged() const {
    EXPECT_EQ(m_sandbox.RegistryText(), m_registryBytes);
    EXPECT_EQ(StatOf(m_sandbox.registry()).st_ino, m_registryInode);
  }

  HostSandbox m_sandbox;
  std::string m_registryBytes;
  ino_t m_registryInode = 0;
  std::vector<int> m_sockets;
};

TEST_F(HostInputFiles, EveryCommandRefusesWhatIsNotAFileItCanRead) {
  struct Command {
    std::vector<std::string> words;  // the file's path goes last
    const char* extension;
  };
  const Command commands[] = {
      {{"reg", "import"}, ".reg"},
      {{"script"}, ".rgs"},
      {{"run"}, ".js"},
      {{"run"}, ".html"},
  };
  for (const Command& command : commands) {
    for (const Kind& kind : kKinds) {
      std::string path = Make(kind.name, command.extension);
      std::vector<std::string> words = command.words;
      words.push_back(path);
      SCOPED_TRACE(words.front() + " " + path);
      HostRun run = m_sandbox.RunWithRegistry(words);
      EXPECT_EQ(run.exitCode, kExitFailure);
      std::string reason = kind.reason;
      if (std::string(kind.name) == "oversized" &&
          std::string(command.extension) == ".reg")
        reason = "is larger than 1024 MiB";
      EXPECT_NE(run.err.find(path + " " + reason), std::string::npos)
          << run.err;
      EXPECT_EQ(run.out, "");
      ExpectRegistryUnchanged();
    }
  }
}

TEST_F(HostInputFiles, RegistryThatIsNotARegularFileIsRefusedBeforeLocking) {
  for (const Kind& kind : kKinds) {
    std::string path = Make(kind.name, ".registry");
    SCOPED_TRACE(path);
    struct stat before = StatOf(path);
    HostRun run = m_sandbox.Run({"--registry", path, "reg", "export"});
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_NE(run.err.find(path), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    struct stat after = StatOf(path);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    if (std::string(kind.name) != "oversized") {
      EXPECT_NE(run.err.find(path + " " + kind.reason), std::string::npos)
          << run.err;
    }
  }
  ExpectRegistryUnchanged();
}

}  // namespace
