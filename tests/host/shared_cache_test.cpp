// Hosts sharing one cache: an install another host is in the middle of is
// waited for, a host stopped by --timeout says which install step did not
// end and leaves no staging folder, a staging folder whose host is gone is
// removed by the next install (and one whose host lives is not), and in
// the 32-bit build two hosts installing one page at once both end with
// the class installed and registered.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdint.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "host/code_download_fixture.h"
#include "host/host_runner.h"
#include "host/page_install_fixture.h"

namespace {

// A registry with one key of no one's, so that it exists.
[[maybe_unused]] constexpr char kSeed[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\QxHostTestSeed]\r\n";

using namespace pageinstall;

// A pid no process has: a child's, once it has ended and been reaped.
pid_t PidOfAnEndedProcess() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

// A staging folder as a host leaves it: its lock file, and files in it.
fs::path LeftStaging(const fs::path& cache, pid_t owner) {
  fs::path folder =
      cache / (".staging-" + std::to_string(owner) + "-Ab12Cd");
  fs::create_directories(folder / "files");
  std::ofstream(folder / "owner.lock") << "";
  std::ofstream(folder / "files" / "qxKorvex.dll") << std::string(4096, 'x');
  std::ofstream(folder / "cabinet.cab") << "cabinet";
  return folder;
}

// An exclusive flock on a file or folder, as another host holds it.
class HeldLock {
 public:
  explicit HeldLock(const fs::path& path)
      : m_fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    m_held = m_fd >= 0 && flock(m_fd, LOCK_EX | LOCK_NB) == 0;
  }
  ~HeldLock() {
    if (m_fd >= 0) close(m_fd);
  }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  bool held() const { return m_held; }

 private:
  int m_fd;
  bool m_held = false;
};

TEST_F(PageInstall, StagingOfAHostThatIsGoneIsRemovedByTheNextInstall) {
  const fs::path dead = LeftStaging(Cache(), PidOfAnEndedProcess());
  // A live host's staging: this process's, holding its lock.
  const fs::path live = LeftStaging(Cache(), getpid());
  HeldLock liveLock(live / "owner.lock");
  ASSERT_TRUE(liveLock.held());
  Cabinet("qx.cab", m_goodInf, "library", /*sign=*/false);
  fs::path page = Page(ObjectTag("korvex", "qx.cab"));
  HostRun run = RunPage(page);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "created: false\n");
  EXPECT_FALSE(fs::exists(dead)) << TreeListing(Cache());
  EXPECT_TRUE(fs::exists(live / "files" / "qxKorvex.dll"))
      << TreeListing(Cache());
  // Nothing else is left: the refused install took its own staging away.
  const std::string name = live.filename().string() + "/";
  EXPECT_EQ(TreeListing(Cache()),
            name + "\n" + name + "cabinet.cab 7\n" + name + "files/\n" +
                name + "files/qxKorvex.dll 4096\n" + name + "owner.lock 0\n");
}

// Another host installing the class holds its folder locked; this one
// waits for it until --timeout stops it, and says so.
TEST_F(PageInstall, TimeoutDuringAnInstallNamesTheStepAndLeavesNoStaging) {
  Cabinet("qx.cab", m_goodInf, "library");
  const fs::path classFolder = Cache() / kProductClsid;
  fs::create_directories(classFolder);
  HeldLock otherInstall(classFolder);
  ASSERT_TRUE(otherInstall.held());
  fs::path page = Page(ObjectTag("korvex", "qx.cab#version=1,0,0,6"));
  HostRun run = m_sandbox.RunWithRegistry(
      {"run", "--timeout", "1", "--trust", m_signing.authority().string(),
       page.string()});
  EXPECT_EQ(run.exitCode, hosttest::kExitFailure);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(Lines(run.err),
            std::vector<std::string>{
                "qxhost: " + page.string() +
                ": stopped after 1 seconds (--timeout); the install of "
                "'qx.cab#version=1,0,0,6' did not end (while waiting for "
                "another install of the class)"})
      << run.err;
  EXPECT_EQ(TreeListing(Cache()), std::string(kProductClsid) + "/\n");
}

// A script that never ends is still what the message names.
TEST_F(PageInstall, TimeoutAfterTheInstallStepsNamesTheScript) {
  fs::path page = m_site / "loop.html";
  std::ofstream(page, std::ios::binary)
      << "<!DOCTYPE html>\n<html><body>\n<script>\nfor (;;) {}\n</script>\n"
         "</body></html>\n";
  HostRun run = m_sandbox.RunWithRegistry(
      {"run", "--timeout", "0.5", page.string()});
  EXPECT_EQ(run.exitCode, hosttest::kExitFailure);
  EXPECT_EQ(Lines(run.err),
            std::vector<std::string>{"qxhost: " + page.string() +
                                     ": stopped after 0.5 seconds "
                                     "(--timeout); the script did not end"})
      << run.err;
}

#if defined(QX_WIN32_PACKAGE_DIR) && UINTPTR_MAX <= 0xFFFFFFFFu
// Two hosts, each in a sandbox of its own but sharing one registry and one
// cache, run the page at once, round after round from an empty registry
// and cache: both create the object, the cache holds the one install, and
// a page without #version finds the class registered afterwards.
TEST_F(PageInstall, TwoHostsInstallingOnePageAtOnceBothEndInstalled) {
  fs::copy_file(fs::path(QX_WIN32_PACKAGE_DIR) / "qxKorvex.cab",
                m_site / "qxKorvex.cab");
  fs::path page = Page(ObjectTag("korvex", "qxKorvex.cab#version=1,0,0,6"));
  fs::path noVersion = m_site / "later.html";
  std::ofstream(noVersion, std::ios::binary)
      << ReadFile(page).replace(ReadFile(page).find("#version=1,0,0,6"),
                                sizeof "#version=1,0,0,6" - 1, "");
  const std::string folder = std::string(kProductClsid) + "/";
  HostSandbox first;
  HostSandbox second;
  auto run = [&](const HostSandbox& host, const fs::path& which) {
    return host.Run({"--registry", m_sandbox.registry().string(), "run",
                     "--trust", QX_WIN32_TEST_CA, "--cache", Cache().string(),
                     which.string()});
  };
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    fs::remove_all(Cache());
    // The database with its write-ahead log, as a new user has none.
    for (const char* suffix : {"", "-wal", "-shm"})
      fs::remove(m_sandbox.registry().string() + suffix);
    // Made before the hosts start: two hosts making one database at once
    // is not what this test is about.
    ASSERT_TRUE(m_sandbox.SeedRegistry(kSeed));
    HostRun a;
    HostRun b;
    std::thread other([&] { b = run(second, page); });
    a = run(first, page);
    other.join();
    EXPECT_EQ(a.out, "created: true\n") << a.err;
    EXPECT_EQ(b.out, "created: true\n") << b.err;
    EXPECT_EQ(a.err + b.err, "");
    std::string listing = TreeListing(Cache());
    EXPECT_NE(listing.find(folder + "1.0.0.6/qxKorvex.dll "),
              std::string::npos)
        << listing;
    EXPECT_EQ(listing.find(".staging-"), std::string::npos) << listing;
    HostRun later = run(first, noVersion);
    EXPECT_EQ(later.out, "created: true\n") << later.err;
    if (HasFailure()) break;
  }
}
#endif

}  // namespace
