// A page run by a user who is no administrator (qxhost --standard-user
// run): the codebase installs for that user alone. The library registers
// into HKEY_CURRENT_USER\Software\Classes, the machine's classes stay as
// they were, the cache is the user's, and the object is created; a class
// the user registered already needs no install. In the 32-bit build the
// real signed package is installed that way.
#include <gtest/gtest.h>

#include <stdint.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/code_download_fixture.h"
#include "host/host_runner.h"
#include "host/page_install_fixture.h"

namespace {

using namespace pageinstall;

[[maybe_unused]] constexpr char kUserClasses[] = "HKEY_CURRENT_USER\\Software\\Classes";
constexpr char kMachine[] = "HKEY_LOCAL_MACHINE";

class PageInstallPerUser : public PageInstall {
 protected:
  // The key's text, or "<missing>" when it cannot be exported.
  std::string Export(const std::string& key) {
    HostRun run = m_sandbox.RunWithRegistry({"reg", "export", key});
    return run.exitCode == 0 ? run.out : "<missing>";
  }
  HostRun RunAsStandardUser(const fs::path& page) {
    return m_sandbox.RunWithRegistry({"--standard-user", "run", "--trust",
                                      m_signing.authority().string(),
                                      page.string()});
  }
};

// The user's own registration at the version asked for is found through
// HKEY_CLASSES_ROOT: the object is created, nothing is read from the
// codebase, and neither the registry nor the cache changes.
TEST_F(PageInstallPerUser, ClassTheUserRegisteredNeedsNoInstall) {
  HostRun registration = m_sandbox.RunWithRegistry(
      {"--standard-user", "regsvr32", "--user", QX_LIBRARY_PATH});
  ASSERT_EQ(registration.exitCode, 0) << registration.out << registration.err;
  const std::string machineBefore = Export(kMachine);
  const std::string before = State();

  HostRun run =
      RunAsStandardUser(Page(ObjectTag("korvex", "absent.cab#version=1,0,0,6")));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "created: true\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(State(), before);
  EXPECT_EQ(Export(kMachine), machineBefore);
}

// A refused install as a standard user leaves both the user's and the
// machine's classes, and the user's cache, as they were.
TEST_F(PageInstallPerUser, RefusalLeavesTheUsersAndTheMachinesClasses) {
  Cabinet("qx.cab", m_goodInf, "library", /*sign=*/false);
  fs::path page = Page(ObjectTag("korvex", "qx.cab"));
  const std::string before = State();
  HostRun run = RunAsStandardUser(page);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "created: false\n");
  const std::vector<std::string> lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0].rfind(Line(page) + Refusal("qx.cab",
                                                "the cabinet is not signed"),
                           0),
            0u)
      << run.err;
  EXPECT_EQ(State(), before);
}

#if defined(QX_WIN32_PACKAGE_DIR) && UINTPTR_MAX <= 0xFFFFFFFFu
// The real package installed by a standard user: its class, ProgID and
// type library are in the user's classes, pointing into the user's cache;
// the machine's classes are untouched (a standard user cannot write them,
// and the install does not try); a second run finds the user's install.
TEST_F(PageInstallPerUser, StandardUserInstallsTheSignedPackageForItself) {
  fs::copy_file(fs::path(QX_WIN32_PACKAGE_DIR) / "qxKorvex.cab",
                m_site / "qxKorvex.cab");
  fs::path page = Page(ObjectTag("korvex", "qxKorvex.cab#version=1,0,0,6"));
  const std::string machineBefore = Export(kMachine);
  auto run = [&] {
    return m_sandbox.RunWithRegistry({"--standard-user", "run", "--trust",
                                      QX_WIN32_TEST_CA, page.string()});
  };
  HostRun first = run();
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.out, "created: true\n");
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(Export(kMachine), machineBefore);

  const fs::path library = Cache() / kProductClsid / "1.0.0.6" / "qxKorvex.dll";
  EXPECT_TRUE(fs::is_regular_file(library));
  const std::string user = Export(kUserClasses);
  EXPECT_NE(user.find(std::string("\\Classes\\CLSID\\") + kProductClsid +
                      "\\InprocServer32]"),
            std::string::npos)
      << user;
  EXPECT_NE(user.find(library.string()), std::string::npos) << user;
  EXPECT_NE(user.find("\\Classes\\QxKorvex.InstallKorvex]"), std::string::npos)
      << user;
  EXPECT_NE(user.find("\\Classes\\TypeLib\\{"), std::string::npos) << user;

  const std::string before = State();
  HostRun second = run();
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(second.out, "created: true\n");
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(State(), before);
}

// The administrator's install of the same package still goes to the
// machine's classes and leaves the user's alone.
TEST_F(PageInstallPerUser, AdministratorInstallsForTheMachine) {
  fs::copy_file(fs::path(QX_WIN32_PACKAGE_DIR) / "qxKorvex.cab",
                m_site / "qxKorvex.cab");
  fs::path page = Page(ObjectTag("korvex", "qxKorvex.cab#version=1,0,0,6"));
  const std::string userBefore = Export(kUserClasses);
  HostRun run = m_sandbox.RunWithRegistry(
      {"run", "--trust", QX_WIN32_TEST_CA, page.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "created: true\n");
  EXPECT_EQ(Export(kUserClasses), userBefore);
  const std::string machine =
      Export("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID");
  EXPECT_NE(machine.find(kProductClsid), std::string::npos) << machine;
}
#endif

}  // namespace
