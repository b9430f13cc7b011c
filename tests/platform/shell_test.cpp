// ShellExecuteA: programs found by the search rules are really started, not
// waited for and never left as zombies; every failure maps to the shell's
// result code.
#include <shellapi.h>

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/platform_fixture.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

// Bounded wait for a started program's output; a program that never writes
// it fails the test instead of hanging it.
constexpr int kPollIntervalMicroseconds = 10000;
constexpr int kPollAttempts = 2000;

class ShellTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    const char* path = getenv("PATH");
    m_savedPath = path ? path : "";
    m_savedCwd = fs::current_path();
    m_marker = m_dir / "marker";
  }

  void TearDown() override {
    fs::current_path(m_savedCwd);
    setenv("PATH", m_savedPath.c_str(), 1);
    PlatformTest::TearDown();
  }

  // A shell script; its output goes to a temporary file renamed onto the
  // marker, so a reader never sees it half written.
  void WriteProgram(const fs::path& path, const std::string& body,
                    mode_t mode = 0755) {
    std::ofstream out(path);
    out << "#!/bin/sh\n{\n"
        << body << "\n} > '" << m_marker.string() << ".tmp' && mv '"
        << m_marker.string() << ".tmp' '" << m_marker.string() << "'\n";
    out.close();
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
  }

  void PutOnPath(const fs::path& dir) {
    setenv("PATH", (dir.string() + ":/usr/bin:/bin").c_str(), 1);
  }

  bool WaitForMarker() {
    for (int i = 0; i < kPollAttempts; ++i) {
      if (fs::exists(m_marker)) return true;
      usleep(kPollIntervalMicroseconds);
    }
    return false;
  }

  std::string MarkerText() {
    std::ifstream in(m_marker);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static INT_PTR Run(LPCSTR verb, LPCSTR file, LPCSTR params = nullptr,
                     LPCSTR dir = nullptr) {
    return reinterpret_cast<INT_PTR>(ShellExecuteA(
        /*hwnd=*/nullptr, verb, file, params, dir, SW_SHOWNORMAL));
  }

  // The started program is nobody's child of ours: nothing to reap.
  static void ExpectNoChildren() {
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }

  ScratchDirectory m_scratch{"qxshell"};
  const fs::path m_dir = m_scratch.path();
  fs::path m_marker;
  fs::path m_savedCwd;
  std::string m_savedPath;
};

// ---- starting programs ------------------------------------------------------

TEST_F(ShellTest, BareNameOnPathIsStartedAndNotLeftAsZombie) {
  WriteProgram(m_dir / "Korvex.exe", "echo started");
  PutOnPath(m_dir);
  long before = qxplatform::ShellLaunchCount();

  INT_PTR result = Run("open", "Korvex.exe");

  EXPECT_GT(result, 32);
  ASSERT_TRUE(WaitForMarker());
  EXPECT_EQ(MarkerText(), "started\n");
  EXPECT_EQ(qxplatform::ShellLaunchCount(), before + 1);
  ExpectNoChildren();
}

TEST_F(ShellTest, NullAndUpperCaseVerbsOpen) {
  WriteProgram(m_dir / "prog", "echo ran");
  PutOnPath(m_dir);

  EXPECT_GT(Run(nullptr, "prog"), 32);
  ASSERT_TRUE(WaitForMarker());
  fs::remove(m_marker);
  EXPECT_GT(Run("OPEN", "prog"), 32);
  ASSERT_TRUE(WaitForMarker());
}

TEST_F(ShellTest, BareNameIsFoundInTheCurrentDirectory) {
  WriteProgram(m_dir / "here", "echo here");
  setenv("PATH", "/usr/bin:/bin", 1);
  fs::current_path(m_dir);

  EXPECT_GT(Run("open", "here"), 32);
  ASSERT_TRUE(WaitForMarker());
}

TEST_F(ShellTest, CurrentDirectoryIsSearchedBeforePath) {
  fs::create_directory(m_dir / "cwd");
  fs::create_directory(m_dir / "bin");
  WriteProgram(m_dir / "cwd" / "prog", "echo cwd", 0644);
  WriteProgram(m_dir / "bin" / "prog", "echo path");
  PutOnPath(m_dir / "bin");
  fs::current_path(m_dir / "cwd");
  long before = qxplatform::ShellLaunchCount();

  // The first file of that name decides, even when it cannot run.
  EXPECT_EQ(Run("open", "prog"), SE_ERR_ACCESSDENIED);
  EXPECT_EQ(qxplatform::ShellLaunchCount(), before);
}

TEST_F(ShellTest, NamesAreMatchedWithoutRegardToCase) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(1252));
  fs::create_directory(m_dir / "sub");
  WriteProgram(m_dir / "korvex.exe", "echo lower");
  WriteProgram(m_dir / "caf\xC3\xA9", "echo accent");
  WriteProgram(m_dir / "sub" / "prog", "echo qualified");
  PutOnPath(m_dir);

  EXPECT_GT(Run("open", "Korvex.exe"), 32);
  ASSERT_TRUE(WaitForMarker());
  EXPECT_EQ(MarkerText(), "lower\n");
  fs::remove(m_marker);
  EXPECT_GT(Run("open", "CAF\xC9"), 32);
  ASSERT_TRUE(WaitForMarker());
  EXPECT_EQ(MarkerText(), "accent\n");
  fs::remove(m_marker);
  EXPECT_GT(Run("open", "sub\\PROG", nullptr, m_dir.c_str()), 32);
  ASSERT_TRUE(WaitForMarker());
  EXPECT_EQ(MarkerText(), "qualified\n");
}

TEST_F(ShellTest, NameInAnEarlierDirectoryWinsWhateverItsCase) {
  fs::create_directory(m_dir / "cwd");
  fs::create_directory(m_dir / "bin");
  WriteProgram(m_dir / "cwd" / "korvex.exe", "echo cwd", 0644);
  WriteProgram(m_dir / "bin" / "Korvex.exe", "echo path");
  PutOnPath(m_dir / "bin");
  fs::current_path(m_dir / "cwd");

  EXPECT_EQ(Run("open", "Korvex.exe"), SE_ERR_ACCESSDENIED);
}

TEST_F(ShellTest, ProgramIsNotWaitedFor) {
  // The program runs until the test lets it go, so ShellExecuteA can only
  // have returned while it was still running.
  fs::path release = m_dir / "release";
  WriteProgram(m_dir / "waiter",
               "i=0; while [ ! -e '" + release.string() +
                   "' ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i+1)); done; "
                   "echo released");
  PutOnPath(m_dir);

  EXPECT_GT(Run("open", "waiter"), 32);
  EXPECT_FALSE(fs::exists(m_marker));
  ExpectNoChildren();
  std::ofstream(release.string()).close();
  ASSERT_TRUE(WaitForMarker());
  EXPECT_EQ(MarkerText(), "released\n");
}

TEST_F(ShellTest, ParametersAreSplitOnBlanksHonouringQuotes) {
  WriteProgram(m_dir / "args",
               "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done");
  PutOnPath(m_dir);

  EXPECT_GT(Run("open", "args",
                "one  \"two words\" \"\" a\\\"b c\\\\\\\\\"d e\" x\\y"),
            32);
  ASSERT_TRUE(WaitForMarker());
  EXPECT_EQ(MarkerText(),
            "[one]\n[two words]\n[]\n[a\"b]\n[c\\\\d e]\n[x\\y]\n");
}

TEST_F(ShellTest, DirectoryBecomesTheWorkingDirectory) {
  fs::create_directory(m_dir / "work");
  WriteProgram(m_dir / "where", "pwd -P");
  PutOnPath(m_dir);

  EXPECT_GT(Run("open", "where", nullptr, (m_dir / "work").c_str()), 32);
  ASSERT_TRUE(WaitForMarker());
  EXPECT_EQ(MarkerText(), fs::canonical(m_dir / "work").string() + "\n");
}

TEST_F(ShellTest, QualifiedNameIsTakenRelativeToTheDirectory) {
  fs::create_directory(m_dir / "sub");
  WriteProgram(m_dir / "sub" / "prog", "echo qualified");
  setenv("PATH", "/usr/bin:/bin", 1);

  EXPECT_GT(Run("open", "sub\\prog", nullptr, m_dir.c_str()), 32);
  ASSERT_TRUE(WaitForMarker());
  EXPECT_EQ(MarkerText(), "qualified\n");
}

TEST_F(ShellTest, DescriptorsOfTheCallerAreNotInherited) {
  int fd = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(fd, 3);
  WriteProgram(m_dir / "fds",
               "if [ -e /proc/$$/fd/" + std::to_string(fd) +
                   " ]; then echo inherited; else echo closed; fi");
  PutOnPath(m_dir);

  EXPECT_GT(Run("open", "fds"), 32);
  ASSERT_TRUE(WaitForMarker());
  EXPECT_EQ(MarkerText(), "closed\n");
  close(fd);
}

TEST_F(ShellTest, AnsiNamesAreConvertedFromTheCodePage) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(1252));
  WriteProgram(m_dir / "caf\xC3\xA9", "echo accent");
  PutOnPath(m_dir);

  EXPECT_GT(Run("open", "caf\xE9"), 32);
  ASSERT_TRUE(WaitForMarker());
}

// ---- failures
// -----------------------------------------------------------------

TEST_F(ShellTest, MissingProgramIsFileNotFound) {
  PutOnPath(m_dir);
  long before = qxplatform::ShellLaunchCount();

  EXPECT_EQ(Run("open", "NoSuchProgram.exe"), SE_ERR_FNF);
  EXPECT_EQ(Run("open", (m_dir / "absent").c_str()), SE_ERR_FNF);
  EXPECT_EQ(Run("open", ""), SE_ERR_FNF);
  EXPECT_EQ(Run("open", nullptr), SE_ERR_FNF);
  EXPECT_EQ(qxplatform::ShellLaunchCount(), before);
}

TEST_F(ShellTest, MissingDirectoryIsPathNotFound) {
  EXPECT_EQ(Run("open", (m_dir / "nodir" / "prog").c_str()), SE_ERR_PNF);
  EXPECT_EQ(Run("open", "nodir\\prog", nullptr, m_dir.c_str()), SE_ERR_PNF);
  WriteProgram(m_dir / "prog", "echo never");
  PutOnPath(m_dir);
  EXPECT_EQ(Run("open", "prog", nullptr, (m_dir / "nodir").c_str()),
            SE_ERR_PNF);
  EXPECT_FALSE(fs::exists(m_marker));
}

TEST_F(ShellTest, FileThatCannotRunIsAccessDenied) {
  WriteProgram(m_dir / "plain", "echo never", 0644);
  fs::create_directory(m_dir / "folder");
  PutOnPath(m_dir);
  long before = qxplatform::ShellLaunchCount();

  EXPECT_EQ(Run("open", "plain"), SE_ERR_ACCESSDENIED);
  EXPECT_EQ(Run("open", (m_dir / "plain").c_str()), SE_ERR_ACCESSDENIED);
  EXPECT_EQ(Run("open", "folder"), SE_ERR_ACCESSDENIED);
  EXPECT_EQ(qxplatform::ShellLaunchCount(), before);
}

TEST_F(ShellTest, ImageTheSystemCannotRunIsBadFormat) {
  fs::path junk = m_dir / "junk.exe";
  std::ofstream(junk.string()) << "MZ not a program here\n";
  ASSERT_EQ(chmod(junk.c_str(), 0755), 0);
  PutOnPath(m_dir);
  long before = qxplatform::ShellLaunchCount();

  EXPECT_EQ(Run("open", "junk.exe"), ERROR_BAD_FORMAT);
  EXPECT_EQ(qxplatform::ShellLaunchCount(), before);
  ExpectNoChildren();
}

TEST_F(ShellTest, MissingInterpreterIsFileNotFound) {
  fs::path script = m_dir / "orphan";
  std::ofstream(script.string()) << "#!/nonexistent/interpreter\n";
  ASSERT_EQ(chmod(script.c_str(), 0755), 0);

  EXPECT_EQ(Run("open", script.c_str()), SE_ERR_FNF);
  ExpectNoChildren();
}

TEST_F(ShellTest, NoDescriptorsLeftIsOutOfResources) {
  WriteProgram(m_dir / "prog", "echo never");
  PutOnPath(m_dir);
  long before = qxplatform::ShellLaunchCount();
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  struct rlimit low = saved;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  // Every descriptor below the limit taken: the launch pipe cannot exist.
  std::vector<int> taken;
  for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
    taken.push_back(fd);

  INT_PTR result = Run("open", "prog");

  for (int fd : taken) close(fd);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(qxplatform::ShellLaunchCount(), before);
  EXPECT_FALSE(fs::exists(m_marker));
}

TEST_F(ShellTest, OtherVerbsHaveNoAssociation) {
  WriteProgram(m_dir / "prog", "echo never");
  PutOnPath(m_dir);

  EXPECT_EQ(Run("print", "prog"), SE_ERR_NOASSOC);
  EXPECT_EQ(Run("openx", "prog"), SE_ERR_NOASSOC);
  EXPECT_FALSE(fs::exists(m_marker));
}

// ---- controls
// -------------------------------------------------------------------

TEST_F(ShellTest, ForcedResultIsReturnedWithoutStartingAnything) {
  WriteProgram(m_dir / "prog", "echo started");
  PutOnPath(m_dir);
  long before = qxplatform::ShellLaunchCount();

  qxplatform::ForceShellExecuteResult(32);
  EXPECT_EQ(Run("open", "prog"), 32);
  qxplatform::ForceShellExecuteResult(0);
  EXPECT_EQ(Run("open", "prog"), 0);
  EXPECT_EQ(qxplatform::ShellLaunchCount(), before);
  EXPECT_FALSE(fs::exists(m_marker));

  qxplatform::ForceShellExecuteResult(-1);
  EXPECT_GT(Run("open", "prog"), 32);
  ASSERT_TRUE(WaitForMarker());
  EXPECT_EQ(qxplatform::ShellLaunchCount(), before + 1);
}

TEST_F(ShellTest, LastLaunchHoldsWhatWasAskedForWhateverCameOfIt) {
  EXPECT_FALSE(qxplatform::LastLaunch().made);
  HWND owner = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1234));
  EXPECT_EQ(
      reinterpret_cast<INT_PTR>(ShellExecuteA(
          owner, "print", "NoSuchProgram.exe", "", m_dir.c_str(), SW_SHOW)),
      SE_ERR_NOASSOC);

  qxplatform::LaunchRecord last = qxplatform::LastLaunch();
  EXPECT_TRUE(last.made);
  EXPECT_EQ(last.window, owner);
  EXPECT_EQ(last.verb, std::optional<std::string>("print"));
  EXPECT_EQ(last.file, std::optional<std::string>("NoSuchProgram.exe"));
  EXPECT_EQ(last.parameters, std::optional<std::string>(""));
  EXPECT_EQ(last.directory, std::optional<std::string>(m_dir.string()));
  EXPECT_EQ(last.showCommand, SW_SHOW);

  qxplatform::ForceShellExecuteResult(0);
  ShellExecuteA(nullptr, nullptr, "other", nullptr, nullptr, SW_HIDE);
  last = qxplatform::LastLaunch();
  EXPECT_EQ(last.window, nullptr);
  EXPECT_EQ(last.verb, std::nullopt);
  EXPECT_EQ(last.file, std::optional<std::string>("other"));
  EXPECT_EQ(last.parameters, std::nullopt);
  EXPECT_EQ(last.directory, std::nullopt);
  EXPECT_EQ(last.showCommand, SW_HIDE);

  qxplatform::ResetControls();
  EXPECT_FALSE(qxplatform::LastLaunch().made);
}

TEST_F(ShellTest, ResetControlsSwitchesTheForcedResultOff) {
  WriteProgram(m_dir / "prog", "echo started");
  PutOnPath(m_dir);

  qxplatform::ForceShellExecuteResult(2);
  qxplatform::ResetControls();
  EXPECT_GT(Run("open", "prog"), 32);
  ASSERT_TRUE(WaitForMarker());
}

}  // namespace
