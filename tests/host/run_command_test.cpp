// qxhost run of scripts against the hand-written automation server: what
// script sees of calls, errors and results, how a run ends (to the end, an
// uncaught error, WScript.Quit, --timeout), what a script's large strings
// cost the host, and that every object is released and the library
// unloaded.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "host/host_runner.h"
#include "host/script_host_fixture.h"

namespace {

using namespace std::string_literals;
using hosttest::HostRun;
using hosttest::HostRunScript;
using hosttest::kExitFailure;
using hosttest::kExitUsage;
using hosttest::Lines;

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

// A method is one function per object: the same each time it is read, still
// calling its own object when script has let go of the object itself, and
// never another object's.
TEST_F(HostRunScript, MethodIsOneFunctionOfItsObject) {
  HostRun run = RunFile("methods.js", R"(
var a = new ActiveXObject("QxHostTest.Safe");
var b = new ActiveXObject("QxHostTest.Safe");
var held = a.install;
WScript.Echo(held === a.install, held === b.install);
b.install(); b.install();
a = null;
WScript.Echo(held(), held(), b.calls);
)");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Lines(run.out),
            (std::vector<std::string>{"true false", "0 0 2"}));
  ExpectAllReleasedAndUnloaded();
}

// Script strings reach the terminal as UTF-8: a surrogate pair as one code
// point even where a long string is written in pieces, a surrogate alone as
// U+FFFD.
TEST_F(HostRunScript, EchoWritesPairsWholeAndLoneSurrogatesReplaced) {
  HostRun run = RunFile("text.js", R"(
var s = "";
for (var i = 0; i < 20000; ++i) s += "\uD83D\uDE00";
WScript.Echo(s);
WScript.Echo("a\uD800b\uDC00c");
)");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::string smiles;
  for (int i = 0; i < 20000; ++i) smiles += "\xF0\x9F\x98\x80";
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0] == smiles) << "pairs were split";
  EXPECT_EQ(lines[1], "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c");
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

TEST_F(HostRunScript, QuitEndsTheRunWhateverTheScriptCatches) {
  // Caught, in a finally, inside a callback: nothing after Quit runs, not
  // even the loop that would keep a caught Quit going forever.
  const std::pair<const char*, int> scripts[] = {
      {"var o = new ActiveXObject('QxHostTest.Safe');\n"
       "try { WScript.Quit(4); } catch (e) {}\n"
       "for (;;) {}\n",
       4},
      {"var o = new ActiveXObject('QxHostTest.Safe');\n"
       "try { WScript.Quit(5); } finally { for (;;) {} }\n",
       5},
      {"var o = new ActiveXObject('QxHostTest.Safe');\n"
       "[1, 2].forEach(function () {\n"
       "  try { WScript.Quit({ valueOf: function () { return 6; } }); }\n"
       "  catch (e) { WScript.Echo('caught'); }\n"
       "});\n"
       "while (true) { o.install(); }\n",
       6},
  };
  // A run that would never end is killed (and the test fails) instead of
  // holding the suite up.
  m_sandbox.SetTimeout(std::chrono::seconds(60));
  for (const auto& [script, code] : scripts) {
    HostRun run = RunFile("quit.js", script);
    EXPECT_EQ(run.exitCode, code) << script << run.err;
    EXPECT_EQ(run.out, "") << script;
    EXPECT_EQ(run.err, "") << script;
  }
  ExpectAllReleasedAndUnloaded();
}

// A finalizer the engine runs as the heap goes, once the script has ended,
// may still quit: its code is the run's exit status, and the objects are
// released all the same. A run that failed stays a failure.
TEST_F(HostRunScript, QuitFromAFinalizerAsTheScriptEndsSetsTheStatus) {
  HostRun run = RunFile("finalizer.js", R"(
var o = { kept: new ActiveXObject('QxHostTest.Safe') };
Duktape.fin(o, function () { WScript.Quit(11); });
WScript.Echo('end');
)");
  EXPECT_EQ(run.exitCode, 11) << run.err;
  EXPECT_EQ(run.out, "end\n");
  EXPECT_EQ(run.err, "");
  ExpectAllReleasedAndUnloaded();

  run = RunFile("failed.js", R"(
var o = {};
Duktape.fin(o, function () { WScript.Quit(0); });
throw new Error('failed');
)");
  EXPECT_EQ(run.exitCode, kExitFailure) << run.err;
  EXPECT_EQ(run.err, m_path + ":4: failed\n");
}

// Objects script drops are released as it goes, not when the run ends: at
// once when nothing else holds them (an object and the methods read from it
// hold no cycle), and, when script leaves them in cycles of its own, by the
// collector, which the host runs as they pile up. The server counts the
// objects alive.
TEST_F(HostRunScript, DroppedObjectsAreReleasedAsTheScriptGoes) {
  // Not logged: the log would be hundreds of thousands of lines.
  m_sandbox.environment().erase("QXHOST_FIXTURE_LOG");
  HostRun run = RunFile("many.js", R"(
var peak = 0;
for (var i = 0; i < 20000; ++i) {
  var o = new ActiveXObject('QxHostTest.Safe');
  o.install();
  peak = Math.max(peak, o.live);
}
WScript.Echo('dropped', peak <= 2 ? 'at once' : peak);
peak = 0;
for (var i = 0; i < 20000; ++i) {
  var cycle = { o: new ActiveXObject('QxHostTest.Safe') };
  cycle.self = cycle;
  cycle.install = cycle.o.install;
  peak = Math.max(peak, cycle.o.live);
}
WScript.Echo('in cycles', peak <= 1100 ? 'bounded' : peak);
)");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Lines(run.out),
            (std::vector<std::string>{"dropped at once", "in cycles bounded"}));
}

TEST_F(HostRunScript, QuitCodesOutsideAnExitStatusAreFailures) {
  // An exit status has 8 bits; a code that does not fit must not come out
  // as 0, success.
  const std::pair<const char*, int> codes[] = {
      {"", 0},      {"0", 0},     {"'3'", 3},          {"255", 255},
      {"256", 255}, {"512", 255}, {"4294967296", 255}, {"-1", 255},
      {"0.5", 255}, {"NaN", 255}, {"'x'", 255},        {"true", 1},
  };
  for (const auto& [argument, code] : codes) {
    HostRun run = RunFile("code.js", "WScript.Quit(" + std::string(argument) +
                                         ");\nWScript.Echo('after');\n");
    EXPECT_EQ(run.exitCode, code) << argument << run.err;
    EXPECT_EQ(run.out, "") << argument;
  }
}

TEST_F(HostRunScript, PrintingHugeStringsStaysWithinTheMemoryLimit) {
  if (!hosttest::kAddressSpaceCanBeLimited)
    GTEST_SKIP() << "an address space limit needs a build without ASan";
  // The engine's heap takes about 140 MiB for a 64 MiB string; the host's
  // printing must not add copies of it on top, nor quote all of it in a
  // message.
  m_sandbox.SetAddressSpaceLimit(size_t{256} << 20);
  HostRun run = RunFile("echo.js",
                        "var s = 'x'.repeat(64 << 20);\n"
                        "WScript.Echo(s);\n"
                        "WScript.Echo(s.length);\n");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.size(), (size_t{64} << 20) + 1 + 9);
  EXPECT_EQ(run.out.substr(run.out.size() - 9), "67108864\n");

  run = RunFile("throw.js", "throw new Error('y'.repeat(64 << 20));\n");
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.err, m_path + ":1: " + std::string(2048, 'y') + "...\n");

  run = RunFile("write.html",
                "<!DOCTYPE html><script>document.write('z'.repeat(64 << 20));"
                "alert('done')</script>");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.size(), (size_t{64} << 20) + 1 + 5);
}

TEST_F(HostRunScript, OneCallPassesABoundedAmountOfText) {
  // However often a script passes one string, the host's copies of it for a
  // call stay bounded: 32 Mi characters in all, the rest is an error the
  // script can catch.
  HostRun run = RunFile("args.js", R"(
var o = new ActiveXObject('QxHostTest.Safe');
var s = 'x'.repeat(16 << 20);
WScript.Echo(o.echo(s, s).length);
try { o.echo(s, s, 'x'); } catch (e) { WScript.Echo(e.number, e.message); }
try { o.echo(s, s, s, s, s, s, s, s, s, s, s, s, s, s, s, s); } catch (e) { WScript.Echo(e.number); }
WScript.Echo(o.echo('after'));
)");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Lines(run.out),
            (std::vector<std::string>{
                std::to_string(2 * (5 + (16 << 20)) + 1),
                "-2147024882 arguments too large: one call passes at most "
                "33554432 characters of text",
                "-2147024882", "BSTR:after"}));
  ExpectAllReleasedAndUnloaded();
}

TEST_F(HostRunScript, ClassAndMemberNamesWithANulAreNotCut) {
  // The registry and the object read a name up to its first NUL; the whole
  // name is what the script asked for, and no class or member has it.
  HostRun run = RunFile("nul.js", R"(
try { new ActiveXObject('QxHostTest.Safe\u0000anything'); WScript.Echo('created'); }
catch (e) { WScript.Echo(e.number); }
try { new ActiveXObject('clsid:{6A1D0C35-52B1-4E7C-9E0B-3D1F2C6B7A01}\u0000'); }
catch (e) { WScript.Echo(e.number); }
var o = new ActiveXObject('QxHostTest.Safe');
try { o['install\u0000x'](); } catch (e) { WScript.Echo(e.number); }
try { new ActiveXObject('Qx' + 'x'.repeat(100000)); } catch (e) { WScript.Echo(e.number, e.message.length); }
)");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Lines(run.out),
            (std::vector<std::string>{"-2147221005", "-2147221005",
                                      "-2147352570", "-2147221005 2075"}));
  EXPECT_EQ(LogCount("created"), 1);
}

TEST_F(HostRunScript, MessagesShowControlCharactersEscaped) {
  // Script text quoted on stderr cannot move the cursor, recolour the
  // terminal or fake a line of its own.
  HostRun run = RunFile("escape.js",
                        "throw new Error('red\\u001b[31m\\nqxhost: fake\\u0085"
                        "\\u0000end');\n");
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.err,
            m_path + ":1: red\\x1B[31m\\nqxhost: fake\\u0085\\x00end\n");

  run = RunFile("class.js", "new ActiveXObject('Qx\\u0007\\tname');\n");
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.err, m_path + ":1: no class 'Qx\\x07\\tname' (0x800401F3)\n");
}

TEST_F(HostRunScript, TrustedScriptsKeepTheEngineExtras) {
  // A script file runs trusted, with the engine's own globals; under
  // --untrusted it sees what a page sees.
  const std::string script =
      "WScript.Echo(typeof Duktape, typeof CBOR, typeof Buffer);\n";
  HostRun run = RunFile("trusted.js", script);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "object object function\n");
  run = RunFile("untrusted.js", script, {"--untrusted"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "undefined undefined undefined\n");
}

}  // namespace
