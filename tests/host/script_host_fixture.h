// The fixture of the script host's tests: a sandbox whose registry names
// the hand-written automation server under three classes (safe for
// scripting, refusing, without IObjectSafety), the server's log of what it
// was asked, and running a script or page with qxhost run.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "host/host_runner.h"

namespace hosttest {

constexpr char kSafeClsid[] = "6A1D0C35-52B1-4E7C-9E0B-3D1F2C6B7A01";
constexpr char kUnsafeClsid[] = "6A1D0C35-52B1-4E7C-9E0B-3D1F2C6B7A02";
constexpr char kPlainClsid[] = "6A1D0C35-52B1-4E7C-9E0B-3D1F2C6B7A03";

class HostRunScript : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reg = "Windows Registry Editor Version 5.00\r\n";
    const std::pair<const char*, const char*> classes[] = {
        {"QxHostTest.Safe", kSafeClsid},
        {"QxHostTest.Unsafe", kUnsafeClsid},
        {"QxHostTest.Plain", kPlainClsid}};
    for (const auto& [progId, clsid] : classes) {
      reg += std::string("\r\n[HKEY_CLASSES_ROOT\\") + progId +
             "\\CLSID]\r\n@=\"{" + clsid + "}\"\r\n";
      reg += std::string("\r\n[HKEY_CLASSES_ROOT\\CLSID\\{") + clsid +
             "}\\InprocServer32]\r\n@=\"" + QX_DISPATCH_SERVER_PATH + "\"\r\n";
    }
    auto file = m_sandbox.Write("fixture.reg", reg);
    ASSERT_EQ(
        m_sandbox.RunWithRegistry({"reg", "import", file.string()}).exitCode,
        0);
    m_sandbox.environment()["QXHOST_FIXTURE_LOG"] = Log();
  }

  std::string Log() const { return (m_sandbox.root() / "server.log").string(); }
  std::vector<std::string> LogLines() const { return Lines(ReadFile(Log())); }
  long LogCount(const std::string& line) const {
    std::vector<std::string> lines = LogLines();
    return std::count(lines.begin(), lines.end(), line);
  }
  // Every object the server made was released, and the runtime then freed
  // the library (the server logs "unloaded" only for a FreeLibrary, not at
  // process end).
  void ExpectAllReleasedAndUnloaded() const {
    EXPECT_GT(LogCount("created"), 0);
    EXPECT_EQ(LogCount("created"), LogCount("released")) << ReadFile(Log());
    ASSERT_FALSE(LogLines().empty());
    EXPECT_EQ(LogLines().back(), "unloaded") << ReadFile(Log());
  }

  HostRun RunFile(const std::string& name, const std::string& text,
                  std::vector<std::string> options = {},
                  std::vector<std::string> arguments = {}) {
    auto path = m_sandbox.Write(name, text);
    m_path = path.string();
    std::vector<std::string> words = {"run"};
    words.insert(words.end(), options.begin(), options.end());
    words.push_back(m_path);
    words.insert(words.end(), arguments.begin(), arguments.end());
    return m_sandbox.RunWithRegistry(words);
  }

  std::string Page(const std::string& objects, const std::string& script) {
    return "<!DOCTYPE html>\n<html><body>\n" + objects + "\n<script>\n" +
           script + "\n</script>\n</body></html>\n";
  }

  HostSandbox m_sandbox;
  std::string m_path;  // of the last file run
};

}  // namespace hosttest
