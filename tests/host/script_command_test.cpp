// qxhost script: a registry script file in, the registry changed. The
// status is the last line of stdout; exit 0 for S_OK, 1 for a failure
// status, 2 for usage errors.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "host/host_runner.h"

namespace {

using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::kExitFailure;
using hosttest::kExitUsage;
using hosttest::LastLine;
using hosttest::Lines;
using hosttest::ReadFile;

std::string Export(const HostSandbox& sandbox, const std::string& key) {
  HostRun run = sandbox.RunWithRegistry({"reg", "export", key});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return run.out;
}

TEST(HostScript, RegistersAndUnregistersWithVariablesInOrder) {
  HostSandbox sandbox;
  auto script = sandbox.Write(
      "app.rgs",
      "HKCU\r\n{\r\n\tSoftware\r\n\t{\r\n\t\tQxDemo = s '%Name%'\r\n"
      "\t\t{\r\n\t\t\tval Path = s '%PATH%'\r\n\t\t\tval Count = d '42'\r\n"
      "\t\t}\r\n\t}\r\n}\r\n");
  // The first pair of a name wins; lookups ignore case.
  HostRun run = sandbox.RunWithRegistry({"script", "-D", "Name=first", "-D",
                                         "name=second", "-DPath=C:\\dir",
                                         script.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LastLine(run.out), "0x00000000");

  std::string key = Export(sandbox, "HKCU\\Software\\QxDemo");
  EXPECT_NE(key.find("@=\"first\""), std::string::npos) << key;
  EXPECT_NE(key.find("\"Path\"=\"C:\\\\dir\""), std::string::npos) << key;
  EXPECT_NE(key.find("\"Count\"=dword:0000002a"), std::string::npos) << key;

  run = sandbox.RunWithRegistry(
      {"script", "-u", "-D", "Name=x", "-D", "Path=y", script.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LastLine(run.out), "0x00000000");
  HostRun gone =
      sandbox.RunWithRegistry({"reg", "export", "HKCU\\Software\\QxDemo"});
  EXPECT_EQ(gone.exitCode, kExitFailure);
}

TEST(HostScript, FailureStatusIsPrintedAndTheBlockRolledBack) {
  HostSandbox sandbox;
  // The value clause runs into the end of the text.
  auto script = sandbox.Write("bad.rgs", "HKCU { QxBroken = s");
  HostRun run = sandbox.RunWithRegistry({"script", script.string()});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(LastLine(run.out), "0x80020009");
  HostRun gone = sandbox.RunWithRegistry({"reg", "export", "HKCU\\QxBroken"});
  EXPECT_EQ(gone.exitCode, kExitFailure);

  // A variable the script needs but nobody defined.
  auto needsVariable = sandbox.Write("var.rgs", "HKCU { QxV = s '%Missing%' }");
  run = sandbox.RunWithRegistry({"script", needsVariable.string()});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(LastLine(run.out), "0x80020009");
}

TEST(HostScript, SyntaxErrorIsPlacedBeforeTheStatus) {
  HostSandbox sandbox;
  auto script = sandbox.Write("place.rgs", "HKCU\n{\n  QxPlaced = q 1\n}\n");
  HostRun run = sandbox.RunWithRegistry({"script", script.string()});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(Lines(run.err).at(0),
            script.string() +
                ":3:14: expected a value type: s, d or b, found 'q'");
  EXPECT_EQ(LastLine(run.out), "0x80020009");
}

// --verbose follows the failure out through the registrar, innermost
// first, each step by its source line and the expression that failed.
TEST(HostScript, VerboseFollowsTheFailureToItsSource) {
  HostSandbox sandbox;
  auto script = sandbox.Write("deep.rgs", "HKCU { A { B { val C s 'x' } } }");
  HostRun quiet = sandbox.RunWithRegistry({"script", script.string()});
  ASSERT_EQ(Lines(quiet.err).size(), 1u) << quiet.err;
  HostRun run =
      sandbox.RunWithRegistry({"--verbose", "script", script.string()});
  EXPECT_EQ(run.exitCode, kExitFailure);
  const std::vector<std::string> lines = Lines(run.err);
  ASSERT_GE(lines.size(), 4u) << run.err;
  const std::regex step(
      "registrar/[a-z_]+\\.cpp:[0-9]+: 0x80020009 from .+");
  EXPECT_TRUE(std::regex_match(lines[0], step)) << lines[0];
  EXPECT_NE(lines[0].find("kEquals"), std::string::npos) << lines[0];
  // Three blocks deep: the walk leaves each of them.
  size_t walks = 0;
  for (const std::string& line : lines)
    walks += line.find("from Walk(") != std::string::npos;
  EXPECT_EQ(walks, 2u) << run.err;
  EXPECT_EQ(lines.back(), quiet.err.substr(0, quiet.err.size() - 1));
}

TEST(HostScript, UsageErrorsTouchNoRegistry) {
  HostSandbox sandbox;
  auto script = sandbox.Write("ok.rgs", "HKCU { QxUsage }");
  for (const std::vector<std::string>& words :
       std::vector<std::vector<std::string>>{
           {"script"},
           {"script", "-x", script.string()},
           {"script", "-D"},
           {"script", "-D", "=value", script.string()},
           {"script", "-D", "novalue", script.string()},
           {"script", script.string(), script.string()}}) {
    HostRun run = sandbox.RunWithRegistry(words);
    EXPECT_EQ(run.exitCode, kExitUsage) << words.size() << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_TRUE(run.out.empty());
  }
  EXPECT_FALSE(std::filesystem::exists(sandbox.registry()));
  // A script that cannot be read is a failure, not a usage error.
  HostRun unreadable = sandbox.RunWithRegistry(
      {"script", (sandbox.root() / "missing.rgs").string()});
  EXPECT_EQ(unreadable.exitCode, kExitFailure);
  EXPECT_EQ(Lines(unreadable.err).size(), 1u) << unreadable.err;
  EXPECT_FALSE(std::filesystem::exists(sandbox.registry()));
}

TEST(HostScript, ShiftJisScriptBytesUnderCodePage932) {
  HostSandbox sandbox;
  // "表" is 0x95 0x5C in Shift-JIS: its trail byte is a backslash in ASCII,
  // which must not split the key name; the value is given in UTF-8.
  auto script = sandbox.Write("sjis.rgs", "HKCU { 'Qx\x95\x5CKey' = s '%V%' }");
  HostRun run = sandbox.RunWithRegistry(
      {"--acp", "932", "script", "-D", "V=\xE8\xA1\xA8", script.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err << run.out;

  std::string key = Export(sandbox, "HKCU\\Qx\xE8\xA1\xA8Key");
  EXPECT_NE(key.find("[HKEY_CURRENT_USER\\Qx\xE8\xA1\xA8Key]"),
            std::string::npos)
      << key;
  EXPECT_NE(key.find("@=\"\xE8\xA1\xA8\""), std::string::npos) << key;

  // Read as 1252, the same bytes are two characters and the 0x5C a
  // backslash: a key name with a backslash is refused.
  run = sandbox.RunWithRegistry({"script", "-D", "V=x", script.string()});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(LastLine(run.out), "0x80020009");
}

// A key name .reg text cannot hold (a line break in it) is refused
// when the script makes it: the run fails, its root block is taken back and
// the registry keeps what it had; no success status is printed.
TEST(HostScript, KeyNameTheRegistryFileCannotHoldFailsTheRun) {
  HostSandbox sandbox;
  auto kept = sandbox.Write("kept.rgs", "HKCU { QxKept = s 'k' }");
  ASSERT_EQ(sandbox.RunWithRegistry({"script", kept.string()}).exitCode, 0);
  const std::string before = sandbox.RegistryText();

  auto script =
      sandbox.Write("cr.rgs", "HKCU { QxKept = s 'changed' 'a\rb' = s 'x' }");
  HostRun run = sandbox.RunWithRegistry({"script", script.string()});
  EXPECT_EQ(run.exitCode, kExitFailure) << run.err;
  EXPECT_EQ(LastLine(run.out), "0x80020009");
  EXPECT_EQ(Lines(run.out).size(), 1u) << run.out;
  EXPECT_EQ(sandbox.RegistryText(), before);
  EXPECT_NE(Export(sandbox, "HKCU\\QxKept").find("@=\"k\""), std::string::npos);
}

}  // namespace
