// qxhost run of pages, as a browser runs them for untrusted content: their
// <object>s (created only when safe for scripting, bound to the global of
// their id, fallback content left alone), their script blocks (JavaScript
// only, in order, none from inert content), the standard language only, and
// pages the parser could not read in time linear in their size refused
// before it starts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_runner.h"
#include "host/script_host_fixture.h"

namespace {

using namespace std::string_literals;
using hosttest::HostRun;
using hosttest::HostRunScript;
using hosttest::kExitFailure;
using hosttest::kPlainClsid;
using hosttest::kSafeClsid;
using hosttest::kUnsafeClsid;
using hosttest::Lines;

std::string Object(const std::string& id, const std::string& clsid,
                   const std::string& inside = "") {
  return "<object id=\"" + id + "\" classid=\"clsid:" + clsid + "\">" + inside +
         "</object>";
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
  // Deep nesting, as deep as a page of this size may nest, is walked without
  // recursion.
  std::string deep;
  for (int i = 0; i < 2500; ++i) deep += "<span>";
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

TEST_F(HostRunScript, PagesTooComplexToParseInLinearTimeAreRefused) {
  // Each of these would take gumbo time growing with the square of its
  // size: minutes for a page of a megabyte or two. They are refused before
  // the parser starts, and before the registry is locked.
  std::string attributes = "<!DOCTYPE html>\n<div";
  for (int i = 0; i < 100000; ++i) attributes += " a" + std::to_string(i);
  attributes += ">";
  std::string nested = "<!DOCTYPE html>\n<body>\n";
  for (int i = 0; i < 100000; ++i) nested += "<span>";
  std::string misnested = "<!DOCTYPE html>\n\n\n";
  for (int i = 0; i < 100000; ++i) misnested += "<b>x</p>";
  std::string selfClosing = "<!DOCTYPE html>\n";
  for (int i = 0; i < 100000; ++i) selfClosing += "<x/>";
  std::string reopened = "<!DOCTYPE html>\n";
  for (int i = 0; i < 100000; ++i)
    reopened += "<div><b id=" + std::to_string(i) + "></div>x";
  const std::pair<std::string, std::string> pages[] = {
      {attributes, "at line 2 a tag carries too many attributes"},
      {nested, "at line 3 its elements nest too deeply"},
      {misnested, "at line 4 its elements nest too deeply"},
      {selfClosing, "at line 2 its elements nest too deeply"},
      {reopened, "at line 2 its elements nest too deeply"},
  };
  for (const auto& [page, where] : pages) {
    HostRun run = RunFile("complex.html", page + "<script>alert(1)</script>");
    EXPECT_EQ(run.exitCode, kExitFailure) << where;
    EXPECT_EQ(run.out, "") << where;
    EXPECT_EQ(run.err, "qxhost: " + m_path + ": the page is refused: " + where +
                           " to be parsed in time linear in its size\n");
  }
}

TEST_F(HostRunScript, OrdinaryLargePagesAreRead) {
  // Large pages of what pages are made of stay within the bound: unclosed
  // paragraphs, list items and table cells, formatting, inline SVG, a
  // script full of comparisons, deep but closed nesting, many attributes.
  std::string page =
      "<!DOCTYPE html>\n<html><head><title>a < b</title>\n"
      "<style>p > b { color: red }</style></head><body>\n";
  for (int i = 0; i < 20000; ++i)
    page +=
        "<p>Paragraph <b>" + std::to_string(i) + "</b> <i>of</i> text<br>\n";
  page += "<ul>";
  for (int i = 0; i < 20000; ++i) page += "<li>item <a href=\"#\">link</a>\n";
  page += "</ul><table>";
  for (int i = 0; i < 20000; ++i)
    page += "<tr><td>a<td><font size=2>b</font>\n";
  page += "</table>";
  for (int i = 0; i < 2000; ++i)
    page +=
        "<svg viewBox=\"0 0 1 1\"><g><path d=\"M0 0\"/><circle "
        "r=\"1\"/></g></svg>\n";
  page += "<script>var n = 0; for (var i = 0; i<10; i++) { if (i<n) n = i; }\n";
  for (int i = 0; i < 5000; ++i) page += "if (n<i) { n = i }\n";
  page += "</script>\n";
  for (int i = 0; i < 1000; ++i) page += "<div class=level>";
  for (int i = 0; i < 1000; ++i) page += "</div>";
  page += "<span";
  for (int i = 0; i < 500; ++i) page += " data-" + std::to_string(i) + "=x";
  page +=
      ">text</span>\n<script>document.write('read')</script></body></html>\n";
  HostRun run = RunFile("large.html", page);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "read\n");
}

TEST_F(HostRunScript, InertContentIsNeitherRunNorCreated) {
  // A browser never runs what <template> holds, nor what <noscript> holds
  // when it runs scripts (in <head> too, where the parser would move such
  // elements out of it), and creates an object nested in another only as
  // the fallback for an outer one it could not create.
  HostRun run = RunFile(
      "inert.html",
      "<!DOCTYPE html>\n<html><head><noscript><script>alert('head')</script>" +
          Object("headed", kSafeClsid) + "</noscript></head><body>\n" +
          "<template><script>alert('template')</script>" +
          Object("templated", kSafeClsid) + "</template>\n" +
          "<noscript><script>alert('noscript')</script>" +
          Object("unscripted", kSafeClsid) + "</noscript>\n" +
          Object("outer", kSafeClsid, Object("inner", kSafeClsid)) + "\n" +
          Object("missing", "00000000-0000-0000-0000-000000000001",
                 Object("fallback", kSafeClsid, Object("deeper", kSafeClsid))) +
          "\n<script>alert([typeof headed, typeof templated, typeof "
          "unscripted, typeof inner, typeof deeper, outer.install(), "
          "fallback.install()].join(' '))</script>\n");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "undefined undefined undefined undefined undefined 0 0\n");
  ASSERT_FALSE(Lines(run.err).empty());
  EXPECT_EQ(Lines(run.err).back(), m_path +
                                       ":6: object 'missing': cannot be "
                                       "created (0x80040154)");
  // Two objects the page uses, and no other creation.
  EXPECT_EQ(LogCount("created"), 2);
  ExpectAllReleasedAndUnloaded();
}

TEST_F(HostRunScript, ScriptTypesAreReadAsBrowsersReadThem) {
  // No DOCTYPE: quirks mode, which is not malformed HTML.
  HostRun run = RunFile(
      "types.html",
      "<html><body>\n"
      "<script language=\"vbscript\">MsgBox 1</script>\n"
      "<script type=\" text/javascript \">alert('spaced type')</script>\n"
      "<script language=\"JavaScript\">alert('language')</script>\n"
      "<script type=\"\" language=\"vbscript\">alert('empty type')</script>\n"
      "<script type=\"module\">alert('module')</script>\n"
      "<script for=\"korvex\" event=\"OnInstalled\">alert('handler')</script>\n"
      "<script for=\"window\" event=\"onload\">alert('onload')</script>\n"
      "</body></html>\n");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{"spaced type", "language",
                                                      "empty type", "onload"}));
  EXPECT_EQ(Lines(run.err),
            (std::vector<std::string>{
                m_path + ":2: script of type 'text/vbscript' skipped",
                m_path + ":6: script of type 'module' skipped",
                m_path + ":7: script for='korvex' event='OnInstalled' "
                         "skipped: event handlers are not run"}));
}

TEST_F(HostRunScript, PagesSeeTheStandardLanguageOnly) {
  // The engine's own globals reach its heap (Duktape.Pointer, Duktape.act,
  // Duktape.gc, ...): a page sees the language and the page's globals.
  HostRun run =
      RunFile("globals.html",
              Page("",
                   "alert([typeof Duktape, typeof CBOR, typeof Buffer,"
                   " typeof Uint8Array.plainOf, typeof Uint8Array.allocPlain,"
                   " typeof Object.keys, typeof Proxy, typeof Symbol,"
                   " typeof JSON.parse, typeof Uint8Array, typeof TextEncoder,"
                   " typeof window, typeof document.write, typeof ActiveXObject"
                   "].join(' '));\n"
                   "var names = Object.getOwnPropertyNames(window).filter("
                   "function (n) { return /^[A-Z]/.test(n) && n != 'Object' &&"
                   " typeof window[n] == 'object' && n != 'Math' && n != 'JSON'"
                   " && n != 'Reflect'; });\n"
                   "alert(names.join(',') || 'none');"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Lines(run.out),
            (std::vector<std::string>{
                "undefined undefined undefined undefined undefined function "
                "function function function function function object "
                "function function",
                "none"}));
}

TEST_F(HostRunScript, ObjectIdsDoNotHideGlobals) {
  // As in a browser, an element's id gives a global only where there is
  // none: the page's own globals and the language's stay what they are.
  std::string objects;
  for (const char* id :
       {"document", "window", "alert", "ActiveXObject", "Object", "undefined",
        "__proto__", "installer", "installer"})
    objects += Object(id, kSafeClsid) + "\n";
  HostRun run = RunFile(
      "ids.html",
      Page(objects,
           "alert([typeof document.write, window === this, typeof alert,"
           " typeof ActiveXObject, typeof Object.keys, typeof undefined,"
           " Object.getPrototypeOf(window) === Object.prototype,"
           " typeof __proto__, installer.install()].join(' '));"));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "function true function function function undefined true object "
            "0\n");
  std::vector<std::string> errors = Lines(run.err);
  ASSERT_EQ(errors.size(), 7u) << run.err;
  EXPECT_EQ(errors[0], m_path +
                           ":3: object 'document': the id names an "
                           "existing global; not created");
  EXPECT_EQ(errors[6], m_path +
                           ":11: object 'installer': the id names an "
                           "existing global; not created");
  // Only __proto__ and the first installer were created.
  EXPECT_EQ(LogCount("created"), 2);
  ExpectAllReleasedAndUnloaded();
}

TEST_F(HostRunScript, PageMessagesShowControlCharactersEscaped) {
  // Page text quoted on stderr cannot drive the terminal either.
  HostRun run =
      RunFile("escape.html",
              Page("<object id=\"a&#27;[2J&#10;b\" classid=\"x&#7;\"></object>",
                   "alert('ok')"));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // (Character references to control characters are parse errors too.)
  ASSERT_FALSE(Lines(run.err).empty());
  EXPECT_EQ(Lines(run.err).back(),
            m_path +
                ":3: object 'a\\x1B[2J\\nb': bad classid 'x\\x07' "
                "(expected clsid:XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX)");
}

TEST_F(HostRunScript, ScriptBlocksOfALongPageReportTheirLines) {
  // Thousands of blocks, far down a page: errors name the page's lines,
  // in blocks compiled early and late alike, however the engine numbers
  // them.
  std::string page =
      "<!DOCTYPE html>\n<script>\nfunction early() { null.x; }\n</script>\n";
  for (int i = 0; i < 6000; ++i) page += "<script>;</script>\n";
  page +=
      "<script>function late() { null.y; }</script>\n"  // line 6005
      "<script>early()</script>\n"
      "<script>late()</script>\n"
      "<script>\n\nnull.z;</script>\n"  // the error on line 6010
      "<script>var = ;</script>\n"
      "<script>try { late(); } catch (e) { alert(typeof e.lineNumber) }"
      "</script>\n";
  HostRun run = RunFile("long.html", page);
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.out, "number\n");
  std::vector<std::string> errors = Lines(run.err);
  ASSERT_EQ(errors.size(), 4u) << run.err;
  EXPECT_EQ(errors[0],
            m_path + ":3: TypeError: cannot read property 'x' of null");
  EXPECT_EQ(errors[1],
            m_path + ":6005: TypeError: cannot read property 'y' of null");
  EXPECT_EQ(errors[2],
            m_path + ":6010: TypeError: cannot read property 'z' of null");
  EXPECT_EQ(errors[3].rfind(m_path + ":6011: SyntaxError", 0), 0u) << errors[3];
}

}  // namespace
