// qxhost regsvr32 as a user who is no administrator: registering for the
// machine is refused and changes nothing, registering for the current user
// (--user) goes to the user's classes, type library included, and makes
// the class creatable by ProgID; unregistering takes exactly that away.
// The user's registration of a class wins over the machine's.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "host/host_runner.h"

namespace {

namespace fs = std::filesystem;
using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::kExitFailure;
using hosttest::LastLine;

constexpr char kUserClasses[] = "HKEY_CURRENT_USER\\Software\\Classes";
constexpr char kMachine[] = "HKEY_LOCAL_MACHINE";
constexpr char kCreateByProgId[] =
    "var o = new ActiveXObject('QxKorvex.InstallKorvex');\n"
    "WScript.Echo(o.install());\n";

class HostRegsvr32PerUser : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(m_sandbox.root() / "bin");
    m_sandbox.environment()["PATH"] = (m_sandbox.root() / "bin").string();
  }
  // The key's text, or "<missing>" when the export fails.
  std::string Export(const std::string& key) {
    HostRun run = m_sandbox.RunWithRegistry({"reg", "export", key});
    return run.exitCode == 0 ? run.out : "<missing>";
  }
  HostRun Run(std::vector<std::string> arguments, bool standardUser) {
    if (standardUser) arguments.insert(arguments.begin(), "--standard-user");
    return m_sandbox.RunWithRegistry(arguments);
  }

  HostSandbox m_sandbox;
};

TEST_F(HostRegsvr32PerUser, StandardUserCannotRegisterForTheMachine) {
  const std::string before = Export("");
  HostRun run = Run({"regsvr32", QX_LIBRARY_PATH}, /*standardUser=*/true);
  EXPECT_EQ(run.exitCode, kExitFailure) << run.out << run.err;
  // Access denied, as the system's registration says it to such a user.
  EXPECT_EQ(LastLine(run.out), "0x80070005");
  EXPECT_EQ(Export(""), before);
}

TEST_F(HostRegsvr32PerUser, UserRegistrationIsCreatableAndUndoneExactly) {
  // The user's classes hold registrations of their own already, so the
  // keys every class and type library shares are there: the library
  // leaves them (its script's NoRemove CLSID), per user as per machine.
  const std::string existing =
      m_sandbox
          .Write("mine.reg",
                 "Windows Registry Editor Version 5.00\r\n\r\n"
                 "[HKEY_CURRENT_USER\\Software\\Classes\\Mine.Thing]\r\n"
                 "@=\"mine\"\r\n\r\n"
                 "[HKEY_CURRENT_USER\\Software\\Classes\\CLSID]\r\n\r\n"
                 "[HKEY_CURRENT_USER\\Software\\Classes\\Interface]\r\n\r\n"
                 "[HKEY_CURRENT_USER\\Software\\Classes\\TypeLib]\r\n")
          .string();
  ASSERT_EQ(m_sandbox.RunWithRegistry({"reg", "import", existing}).exitCode,
            0);
  const std::string userBefore = Export(kUserClasses);
  const std::string machineBefore = Export(kMachine);

  HostRun registration =
      Run({"regsvr32", "--user", QX_LIBRARY_PATH}, /*standardUser=*/true);
  ASSERT_EQ(registration.exitCode, 0) << registration.err;
  EXPECT_EQ(LastLine(registration.out), "0x00000000");
  EXPECT_EQ(Export(kMachine), machineBefore);
  const std::string userClasses = Export(kUserClasses);
  EXPECT_NE(userClasses.find("\\Classes\\QxKorvex.InstallKorvex]"),
            std::string::npos)
      << userClasses;
  EXPECT_NE(userClasses.find("\\Classes\\TypeLib\\{"), std::string::npos)
      << userClasses;

  HostRun script = Run({"run", m_sandbox.Write("create.js", kCreateByProgId)
                                   .string()},
                       /*standardUser=*/true);
  ASSERT_EQ(script.exitCode, 0) << script.err;
  EXPECT_EQ(script.out, "-2\n");  // no installer on the search path

  HostRun removal = Run({"regsvr32", "--user", "-u", QX_LIBRARY_PATH},
                        /*standardUser=*/true);
  ASSERT_EQ(removal.exitCode, 0) << removal.err;
  EXPECT_EQ(LastLine(removal.out), "0x00000000");
  EXPECT_EQ(Export(kUserClasses), userBefore);
  EXPECT_EQ(Export(kMachine), machineBefore);
}

TEST_F(HostRegsvr32PerUser, UsersRegistrationWinsOverTheMachines) {
  const fs::path copy = m_sandbox.root() / "copy" / "qxKorvexUser.so";
  fs::create_directories(copy.parent_path());
  fs::copy_file(QX_LIBRARY_PATH, copy);
  ASSERT_EQ(Run({"regsvr32", QX_LIBRARY_PATH}, false).exitCode, 0);
  ASSERT_EQ(Run({"regsvr32", "--user", copy.string()}, false).exitCode, 0);

  const std::string view = Export("HKEY_CLASSES_ROOT\\CLSID");
  EXPECT_NE(view.find(copy.filename().string()), std::string::npos) << view;
  EXPECT_EQ(view.find(fs::path(QX_LIBRARY_PATH).filename().string()),
            std::string::npos)
      << view;
  const std::string machine =
      Export("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID");
  EXPECT_NE(machine.find(fs::path(QX_LIBRARY_PATH).filename().string()),
            std::string::npos)
      << machine;

  HostRun script = Run(
      {"run", m_sandbox.Write("create.js", kCreateByProgId).string()}, false);
  ASSERT_EQ(script.exitCode, 0) << script.err;
  EXPECT_EQ(script.out, "-2\n");
}

}  // namespace
