// The examples through qxhost run against the product, registered as
// regsvr32 registers it: install.js creates InstallKorvex by its ProgID,
// install.html as a page's <object>, which needs the class to be safe for
// scripting. The status is the provider probe's, as for qxhost call.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "host/host_runner.h"

namespace {

namespace fs = std::filesystem;
using hosttest::HostRun;
using hosttest::HostSandbox;

constexpr char kProviderKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\"
    "Provider\\Selvane Korvex for RDKV CSP v1.0";
constexpr int kPollIntervalMicroseconds = 10000;
constexpr int kPollAttempts = 2000;

class HostRunProduct : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(m_sandbox.root() / "bin");
    m_sandbox.environment()["PATH"] = (m_sandbox.root() / "bin").string();
    HostRun run = m_sandbox.RunWithRegistry({"regsvr32", QX_LIBRARY_PATH});
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }

  HostRun RunExample(const std::string& name) {
    return m_sandbox.RunWithRegistry(
        {"run", std::string(QX_SOURCE_DIR) + "/examples/" + name});
  }

  HostRun RunScript(const std::string& name, const std::string& text) {
    return m_sandbox.RunWithRegistry(
        {"run", m_sandbox.Write(name, text).string()});
  }

  bool WaitForProvider() {
    for (int i = 0; i < kPollAttempts; ++i) {
      if (m_sandbox.RunWithRegistry({"reg", "export", kProviderKey}).exitCode ==
          0)
        return true;
      usleep(kPollIntervalMicroseconds);
    }
    return false;
  }

  HostSandbox m_sandbox;
};

TEST_F(HostRunProduct, ScriptCallsInstallByProgId) {
  HostRun run = RunExample("install.js");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // No installer on the search path: the shell's file-not-found.
  EXPECT_EQ(run.out, "-2\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(HostRunProduct, ObjectsPassAsArguments) {
  // The automation runtime releases an object argument (VariantClear) as
  // any client does: through its vtable, into a library built without
  // run-time type information.
  HostRun run =
      RunScript("pass.js",
                "var a = new ActiveXObject('QxKorvex.InstallKorvex');\n"
                "var b = new ActiveXObject('QxKorvex.InstallKorvex');\n"
                "try { b.install(a); } catch (e) { WScript.Echo(e.number); }\n"
                "WScript.Echo(a.install(), b.install());\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "-2147352562\n-2 -2\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(HostRunProduct, PageInstallsThenFindsTheProvider) {
  fs::copy_file(QX_STANDIN_PATH, m_sandbox.root() / "bin" / "Korvex.exe");
  HostRun first = RunExample("install.html");
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.out, "install status: 1\n");
  // The installer shares the host's stderr and may report there before the
  // host has exited; nothing else may.
  for (const std::string& line : hosttest::Lines(first.err))
    EXPECT_EQ(line.rfind("Korvex.exe: ", 0), 0u) << first.err;
  ASSERT_TRUE(WaitForProvider());

  HostRun second = RunExample("install.html");
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(second.out, "install status: 0\n");
}

// A registered type library that cannot be read is named as the cause of
// the failed call, with its file and status, not mistaken for a missing
// member, from a script and from a page alike.
TEST_F(HostRunProduct, UnreadableTypeLibraryIsNamedAsTheCause) {
  const std::string damaged = m_sandbox.Write("damaged.tlb", "MSFT").string();
  const std::string missing = (m_sandbox.root() / "missing.tlb").string();
  const std::string script = m_sandbox
                                 .Write("call.js",
                                        "new ActiveXObject("
                                        "'QxKorvex.InstallKorvex').install();")
                                 .string();
  for (const auto& [file, status] :
       {std::pair{damaged, "0x80028018"}, std::pair{missing, "0x80029C4A"}}) {
    std::string reg =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CLASSES_ROOT\\TypeLib\\{0322C3C2-E7C6-466F-9A3B-"
        "33519C4FC6B4}\\1.0\\0\\win32]\r\n@=\"" +
        file + "\"\r\n\r\n" +
        "[HKEY_CLASSES_ROOT\\TypeLib\\{0322C3C2-E7C6-466F-9A3B-"
        "33519C4FC6B4}\\1.0\\0\\win64]\r\n@=\"" +
        file + "\"\r\n";
    ASSERT_EQ(m_sandbox
                  .RunWithRegistry(
                      {"reg", "import", m_sandbox.Write("tlb.reg", reg).string()})
                  .exitCode,
              0);
    const std::string expected =
        "type library {0322C3C2-E7C6-466F-9A3B-33519C4FC6B4} 1.0 at " + file +
        " cannot be read (" + status + "): ";
    HostRun fromScript = m_sandbox.RunWithRegistry({"run", script});
    EXPECT_EQ(fromScript.exitCode, 1);
    EXPECT_EQ(fromScript.err.rfind(script + ":1: " + expected, 0), 0u)
        << fromScript.err;
    HostRun fromPage = RunExample("install.html");
    EXPECT_NE(fromPage.err.find(expected), std::string::npos) << fromPage.err;
    EXPECT_EQ(fromPage.err.find("no member"), std::string::npos)
        << fromPage.err;
  }
}

}  // namespace
