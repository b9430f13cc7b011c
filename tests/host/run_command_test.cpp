// qxhost run against the hand-written automation server: what script sees
// of calls, errors and results, how a run ends (to the end, an uncaught
// error, WScript.Quit, --timeout), pages with objects that are refused or
// malformed, and that every object is released and the library unloaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/host_runner.h"

namespace {

using namespace std::string_literals;
using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::kExitFailure;
using hosttest::kExitUsage;
using hosttest::Lines;
using hosttest::ReadFile;

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

TEST_F(HostRunScript, FailedCallThrowsItsStatusAndDescription) {
  HostRun run = RunFile("errors.js", R"(
var o = new ActiveXObject("QxHostTest.Safe");
try { o.fail(-2147024891, "the disk said no"); } catch (e) {
  WScript.Echo(e.number, e.description, e.message, e instanceof Error);
}
try { o.fail(-2147467259); } catch (e) { WScript.Echo(e.number, e.description); }
try { o.frobnicate(); } catch (e) { WScript.Echo(e.number); }
try { new ActiveXObject("QxHostTest.Missing"); } catch (e) { WScript.Echo(e.number); }
)");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Lines(run.out),
            (std::vector<std::string>{
                "-2147024891 the disk said no the disk said no true",
                "-2147467259 0x80004005", "-2147352570", "-2147221005"}));
  ExpectAllReleasedAndUnloaded();
}

TEST_F(HostRunScript, ValuesCrossInBothDirections) {
  HostRun run = RunFile("values.js", R"(
var o = new ActiveXObject("clsid:{6A1D0C35-52B1-4E7C-9E0B-3D1F2C6B7A01}");
WScript.Echo(o.echo(7, -1, 2.5, 3000000000, "t\u00e9", true, false, null,
                    undefined, o));
o.Name = "renamed";
WScript.Echo(o.name, typeof o.install(), o.calls);
var child = o.child;
WScript.Echo(child.install(), child.calls, o.calls);
try { o.echo({}); } catch (e) { WScript.Echo("object:", e.number); }
)");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Arguments reach the server last first, as automation orders them.
  EXPECT_EQ(Lines(run.out),
            (std::vector<std::string>{
                "I4:7,I4:-1,R8:2.5,R8:3e+09,BSTR:t?,BOOL:true,BOOL:false,NULL,"
                "EMPTY,DISPATCH",
                "renamed number 1", "0 1 1", "object: -2147352571"}));
  ExpectAllReleasedAndUnloaded();
}

TEST_F(HostRunScript, UncaughtErrorIsFileLineMessage) {
  HostRun run = RunFile("uncaught.js",
                        "WScript.Echo('before');\n"
                        "var o = new ActiveXObject('QxHostTest.Safe');\n"
                        "\n"
                        "o.fail(-2147024891, 'refused by the server');\n"
                        "WScript.Echo('after');\n");
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.out, "before\n");
  EXPECT_EQ(run.err, m_path + ":4: refused by the server\n");
  ExpectAllReleasedAndUnloaded();

  run = RunFile("syntax.js", "var a = 1;\nvar = ;\n");
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.err.rfind(m_path + ":2: SyntaxError", 0), 0u) << run.err;
}

TEST_F(HostRunScript, QuitEndsTheRunWithItsCodeEvenWhenCaught) {
  HostRun run = RunFile("quit.js",
                        "var o = new ActiveXObject('QxHostTest.Safe');\n"
                        "try { WScript.Quit(7); } catch (e) {}\n"
                        "WScript.Echo('after quit');\n",
                        {}, {});
  EXPECT_EQ(run.exitCode, 7) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  ExpectAllReleasedAndUnloaded();
}

TEST_F(HostRunScript, ArgumentsAfterTheFile) {
  HostRun run = RunFile("args.js",
                        "WScript.Echo(WScript.Arguments.length, "
                        "WScript.Arguments.Item(0), WScript.Arguments[1]);",
                        {}, {"first", "--second"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "2 first --second\n");
}

TEST_F(HostRunScript, TimeoutStopsAScriptThatNeverEnds) {
  HostRun run =
      RunFile("forever.js",
              "var o = new ActiveXObject('QxHostTest.Safe');\nfor (;;) {}\n",
              {"--timeout", "0.5"});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(Lines(run.err),
            (std::vector<std::string>{
                "qxhost: " + m_path +
                ": stopped after 0.5 seconds (--timeout); the script did not "
                "end"}));
  // A script that ends in time is not disturbed.
  run = RunFile("quick.js", "WScript.Echo('done');", {"--timeout", "30"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "done\n");
}

TEST_F(HostRunScript, BadTimeoutsAreUsageErrors) {
  for (const char* value : {"0", "-1", "abc", "1e3", "100000", "", "nan"}) {
    HostRun run = RunFile("x.js", "", {"--timeout", value});
    EXPECT_EQ(run.exitCode, kExitUsage) << value;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
  }
  HostRun run = m_sandbox.RunWithRegistry({"run", "--timeout"});
  EXPECT_EQ(run.exitCode, kExitUsage);
}

TEST_F(HostRunScript, UnreadableFileIsReported) {
  HostRun run = m_sandbox.RunWithRegistry(
      {"run", (m_sandbox.root() / "absent.js").string()});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_NE(run.err.find("absent.js"), std::string::npos) << run.err;
}

TEST_F(HostRunScript, RefusingObjectIsMissingFromAPageAndItContinues) {
  HostRun run = RunFile(
      "refused.html",
      Page(std::string("<object id=\"unsafe\" classid=\"clsid:") +
               kUnsafeClsid + "\"></object>\n<object id=\"plain\" " +
               "classid=\"clsid:" + kPlainClsid + "\"></object>",
           "document.write('unsafe: ' + unsafe + ', plain: ' + plain);\n"
           "alert(typeof WScript);\nunsafe.install();\n</script>\n"
           "<script>document.write('next block')"));
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(Lines(run.out),
            (std::vector<std::string>{"unsafe: null, plain: null", "undefined",
                                      "next block"}));
  EXPECT_EQ(Lines(run.err),
            (std::vector<std::string>{
                m_path + ":3: object 'unsafe': not safe for scripting "
                         "(0x80004005)",
                m_path + ":4: object 'plain': not safe for scripting "
                         "(0x80004002)",
                m_path + ":8: TypeError: cannot read property 'install' of "
                         "null"}));
  // Asked first what it supports, and never asked to change what it cannot.
  EXPECT_EQ(LogCount("safety get"), 1);
  EXPECT_EQ(LogCount("safety set 1 1"), 0);
  ExpectAllReleasedAndUnloaded();
}

TEST_F(HostRunScript, RefusingObjectWorksForTrustedScriptOnly) {
  const std::string script =
      "var o = new ActiveXObject('QxHostTest.Unsafe');\n"
      "WScript.Echo(o.install());\n";
  HostRun run = RunFile("trusted.js", script);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "0\n");
  EXPECT_EQ(LogCount("safety get"), 0);

  run = RunFile("untrusted.js", script, {"--untrusted"});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, m_path +
                         ":1: object 'QxHostTest.Unsafe': not safe for "
                         "scripting (0x80004005)\n");
  ExpectAllReleasedAndUnloaded();
}

TEST_F(HostRunScript, SafeObjectIsBoundWithTheOptionsItsPageNeeds) {
  HostRun run = RunFile(
      "safe.html",
      Page(std::string("<object id=\"bare\" classid=\"clsid:") + kSafeClsid +
               "\"></object>\n<object id=\"configured\" classid=\"CLSID:{" +
               kSafeClsid + "}\"><param name=\"a\" value=\"b\"></object>",
           "document.write(bare.install() + ' ' + configured.install() + ' ' +"
           " (window.bare === bare));"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "0 0 true\n");
  EXPECT_EQ(run.err, "");
  // Untrusted callers for both; untrusted data for the one with <param>.
  EXPECT_EQ(LogCount("safety set 1 1"), 1);
  EXPECT_EQ(LogCount("safety set 3 3"), 1);
  ExpectAllReleasedAndUnloaded();
}

TEST_F(HostRunScript, BadClassIdsAreReportedAndThePageGoesOn) {
  HostRun run = RunFile(
      "badclass.html",
      Page("<object id=\"a\" classid=\"clsid:not-a-guid\"></object>\n"
           "<object id=\"b\" classid=\"{" +
               std::string(kSafeClsid) +
               "}\"></object>\n"
               "<object id=\"c\" classid=\"clsid:00000000-0000-0000-0000-"
               "000000000001\"></object>\n<object classid=\"clsid:" +
               kSafeClsid + "\"></object>",
           "document.write([a, b, c].join(','));"));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, ",,\n");
  std::vector<std::string> errors = Lines(run.err);
  ASSERT_EQ(errors.size(), 4u) << run.err;
  EXPECT_EQ(errors[0].rfind(m_path + ":3: object 'a': bad classid", 0), 0u);
  EXPECT_EQ(errors[1].rfind(m_path + ":4: object 'b': bad classid", 0), 0u);
  EXPECT_EQ(errors[2],
            m_path + ":5: object 'c': cannot be created (0x80040154)");
  EXPECT_EQ(errors[3], m_path + ":6: object without id: not created");
}

TEST_F(HostRunScript, MalformedPagesAreReadWithoutHarm) {
  const std::string pages[] = {
      std::string("<object id=x classid=\"clsid:") + kSafeClsid + "\""s +
          "\0<<script>>document.write(1)</scr"s,
      "<script>document.write('unclosed'",
      std::string(200000, '<') + "<div" + std::string(100000, '>'),
      "\xff\xfe\x00<script>\x80\x81</script>"s,
  };
  for (const std::string& page : pages) {
    HostRun run = RunFile("malformed.html", page);
    EXPECT_LE(run.exitCode, kExitFailure) << run.err;
    EXPECT_NE(run.err.find("malformed HTML"), std::string::npos) << run.err;
  }
  // Deep nesting is walked without recursion.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<span>";
  HostRun run =
      RunFile("deep.html", "<!DOCTYPE html>" + deep +
                               "<script>document.write('deep')</script>");
  EXPECT_EQ(run.out, "deep\n");
}

TEST_F(HostRunScript, ExternalAndForeignScriptsAreNotRun) {
  m_sandbox.Write("other.js", "document.write('loaded');");
  HostRun run = RunFile("external.html",
                        "<!DOCTYPE html>\n<script src=\"other.js\"></script>\n"
                        "<script type=\"text/vbscript\">MsgBox 1</script>\n"
                        "<script>document.write('inline')</script>\n");
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.out, "inline\n");
  EXPECT_NE(run.err.find(m_path + ":2: script src=other.js not loaded"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find(m_path + ":3: script of type 'text/vbscript' skipped"),
            std::string::npos)
      << run.err;
}

TEST_F(HostRunScript, ObjectsStillHeldAtTheEndAreReleased) {
  // Globals, a closure, a method kept apart from its object, an object
  // passed through the server, and a run that ends in an uncaught error.
  HostRun run = RunFile("held.js", R"(
var kept = new ActiveXObject('QxHostTest.Safe');
var child = kept.child;
var install = new ActiveXObject('QxHostTest.Plain').install;
function hold() { var inner = new ActiveXObject('QxHostTest.Safe'); return function () { return inner; }; }
var holder = hold();
kept.echo(child, holder());
for (var i = 0; i < 50; ++i) new ActiveXObject('QxHostTest.Safe').install();
WScript.Echo(install());
throw new Error('end');
)");
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.out, "0\n");
  EXPECT_EQ(LogCount("created"), 54);
  ExpectAllReleasedAndUnloaded();
}

}  // namespace
