// qxhost call against real libraries, straight from a library or by ProgID
// through the registry: loading and activation failures are HRESULT errors,
// and InstallKorvex's install status is the last line of the output, with
// the installer found on PATH and given the host's registry database.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/host_runner.h"

namespace {

namespace fs = std::filesystem;
using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::kExitFailure;
using hosttest::LastLine;
using hosttest::Lines;
using hosttest::ReadFile;
using hosttest::StatOf;

constexpr char kClsid[] = "{EC68AD82-001E-4396-9CDC-ED264E512EE4}";
constexpr char kProgId[] = "QxKorvex.InstallKorvex";
constexpr char kProviderKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\"
    "Provider\\Selvane Korvex for RDKV CSP v1.0";
// Bounded wait for the started installer's log.
constexpr int kPollIntervalMicroseconds = 10000;
constexpr int kPollAttempts = 2000;

class HostCall : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(m_sandbox.root() / "bin");
    m_sandbox.environment()["PATH"] = (m_sandbox.root() / "bin").string();
  }

  // A stand-in "Korvex.exe" that logs the registry it was given.
  fs::path InstallStandIn() {
    fs::path program = m_sandbox.root() / "bin" / "Korvex.exe";
    std::ofstream(program.string())
        << "#!/bin/sh\necho \"$QXKORVEX_REGISTRY\" >> '" << Log().string()
        << "'\n";
    EXPECT_EQ(chmod(program.c_str(), 0755), 0);
    return program;
  }

  // The provider's entry with an image that exists, as a .reg file.
  fs::path ProviderPresentFile() {
    fs::path image = m_sandbox.Write("korvex.dll", "");
    return m_sandbox.Write("provider.reg",
                           std::string("Windows Registry Editor Version "
                                       "5.00\r\n\r\n[") +
                               kProviderKey + "]\r\n\"Image Path\"=\"" +
                               image.string() +
                               "\"\r\n\"Type\"=dword:00000001\r\n");
  }

  fs::path Log() const { return m_sandbox.root() / "installer.log"; }

  bool WaitForLogLines(size_t count) {
    for (int i = 0; i < kPollAttempts; ++i) {
      if (Lines(ReadFile(Log())).size() >= count) return true;
      usleep(kPollIntervalMicroseconds);
    }
    return false;
  }

  HostRun CallInstall(const std::string& library = QX_LIBRARY_PATH) {
    return m_sandbox.RunWithRegistry(
        {"call", "--library", library, kClsid, "install"});
  }

  HostSandbox m_sandbox;
};

TEST_F(HostCall, MissingLibraryIsAnHresultError) {
  HostRun run = CallInstall((m_sandbox.root() / "nothing.so").string());
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
  EXPECT_EQ(run.err.rfind("error: 0x8007", 0), 0u) << run.err;
}

TEST_F(HostCall, LibraryWithoutServerExportsIsAnHresultError) {
  fs::path platform =
      fs::path(QX_PLATFORM_PATH);
  ASSERT_TRUE(fs::exists(platform));
  HostRun run = CallInstall(platform.string());
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.err.rfind("error: 0x8007007F", 0), 0u) << run.err;
}

TEST_F(HostCall, UnknownClassIsAnHresultError) {
  HostRun run = m_sandbox.RunWithRegistry(
      {"call", "--library", QX_LIBRARY_PATH,
       "{00000000-0000-0000-0000-000000000001}", "install"});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.err.rfind("error: 0x80040111", 0), 0u) << run.err;
}

// The class's entries written by hand, with the library's path as its
// in-process server: the ProgID finds the class and the runtime the library.
TEST_F(HostCall, ClassRegisteredByHandIsCreatedByProgId) {
  fs::path reg = m_sandbox.Write(
      "class.reg", std::string("Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_CLASSES_ROOT\\") +
                       kProgId + "\\CLSID]\r\n@=\"" + kClsid +
                       "\"\r\n\r\n[HKEY_CLASSES_ROOT\\CLSID\\" + kClsid +
                       "\\InprocServer32]\r\n@=\"" + QX_LIBRARY_PATH +
                       "\"\r\n");
  ASSERT_EQ(m_sandbox.RunWithRegistry({"reg", "import", reg.string()}).exitCode,
            0);

  HostRun run = m_sandbox.RunWithRegistry({"call", kProgId, "install"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LastLine(run.out), "-2");
}

TEST_F(HostCall, UnknownProgIdIsClassString) {
  HostRun run = m_sandbox.RunWithRegistry({"call", kProgId, "install"});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.err.rfind("error: 0x800401F3", 0), 0u) << run.err;
}

TEST_F(HostCall, UnregisteredClassIdIsClassNotRegistered) {
  HostRun run = m_sandbox.RunWithRegistry({"call", kClsid, "install"});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.err.rfind("error: 0x80040154", 0), 0u) << run.err;
}

TEST_F(HostCall, OlderMultiprocessorSystemServesTheSameCall) {
  // NT 4.0 with five processors: the library spreads its blocks over eight
  // extra heaps, and a whole activation still unloads cleanly.
  HostRun run = m_sandbox.RunWithRegistry({"--os", "nt-4.0", "--processors",
                                           "5", "call", "--library",
                                           QX_LIBRARY_PATH, kClsid, "install"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LastLine(run.out), "-2");
  EXPECT_NE(run.out.find("library unloaded"), std::string::npos) << run.out;
}

TEST_F(HostCall, ProviderPresentGivesStatusZeroAndStartsNothing) {
  InstallStandIn();
  fs::path reg = ProviderPresentFile();
  ASSERT_EQ(m_sandbox.RunWithRegistry({"reg", "import", reg.string()}).exitCode,
            0);
  struct stat before = StatOf(m_sandbox.registry());

  HostRun run = CallInstall();
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LastLine(run.out), "0");
  EXPECT_FALSE(fs::exists(Log()));
  // The registry stays the same file.
  EXPECT_EQ(StatOf(m_sandbox.registry()).st_ino, before.st_ino);
}

TEST_F(HostCall, ProviderMissingWithoutInstallerGivesFileNotFound) {
  HostRun run = CallInstall();
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LastLine(run.out), "-2");
}

TEST_F(HostCall, ProviderMissingStartsTheInstallerWithTheRegistryFile) {
  InstallStandIn();

  HostRun run = CallInstall();
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LastLine(run.out), "1");
  // Once when the object is created, once more for install.
  ASSERT_TRUE(WaitForLogLines(2));
  std::vector<std::string> lines = Lines(ReadFile(Log()));
  EXPECT_EQ(lines.size(), 2u);
  for (const std::string& line : lines)
    EXPECT_EQ(line, m_sandbox.registry().string());
}

// The demonstration's round trip: the stand-in installer writes an entry that
// the provider probe accepts.
TEST_F(HostCall, StandInInstallerLeavesTheProviderPresent) {
  fs::copy_file(QX_STANDIN_PATH, m_sandbox.root() / "bin" / "Korvex.exe");

  HostRun first = CallInstall();
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(LastLine(first.out), "1");
  bool installed = false;
  for (int i = 0; i < kPollAttempts && !installed; ++i) {
    installed =
        m_sandbox.RunWithRegistry({"reg", "export", kProviderKey}).exitCode ==
        0;
    if (!installed) usleep(kPollIntervalMicroseconds);
  }
  ASSERT_TRUE(installed);
  HostRun second = CallInstall();
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(LastLine(second.out), "0");
}

TEST_F(HostCall, InstallerThatCannotRunGivesAccessDenied) {
  fs::path program = InstallStandIn();
  ASSERT_EQ(chmod(program.c_str(), 0644), 0);

  HostRun run = CallInstall();
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LastLine(run.out), "-5");
}

}  // namespace
