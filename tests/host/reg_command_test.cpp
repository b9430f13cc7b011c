// qxhost reg import / reg export against a registry database: round trips,
// subtrees, encodings, the default file location, and a registry that
// is rewritten atomically and only when something changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "host/host_runner.h"

namespace {

namespace fs = std::filesystem;
using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::kExitFailure;
using hosttest::Lines;
using hosttest::ReadFile;
using hosttest::StatOf;

const char kSample[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\QxTest.Object]\r\n"
    "@=\"Test object\"\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\QxTest.Object\\CLSID]\r\n"
    "@=\"{EC68AD82-001E-4396-9CDC-ED264E512EE4}\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QxTest]\r\n"
    "\"Name\"=\"caf\xC3\xA9\"\r\n";

bool HasLine(const std::string& text, const std::string& line) {
  std::vector<std::string> lines = Lines(text);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string ToUtf16LeWithBom(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0xC0) {  // the two-byte sequences the sample uses
      c = ((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F);
    }
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

// Text that must not be taken as .reg text, whether imported or loaded: UTF-16
// with an unpaired surrogate (each of the three ways to have one), and text
// whose byte-order mark was encoded twice.
std::vector<std::string> BadlyEncoded() {
  const std::string head = ToUtf16LeWithBom(
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\Qx");
  const std::string tail = ToUtf16LeWithBom("]\r\n").substr(2);
  const std::string high("\x00\xD8", 2), low("\x00\xDC", 2), x("x\0", 2);
  return {head + high + x + tail, head + low + x + tail, head + tail + high,
          "\xEF\xBB\xBF\xEF\xBB\xBF" + std::string(kSample),
          "\xFF\xFE" + ToUtf16LeWithBom(kSample)};
}

std::set<std::string> Entries(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

TEST(HostReg, ImportThenExportRoundTrips) {
  HostSandbox sandbox;
  fs::path file = sandbox.Write("sample.reg", kSample);

  HostRun imported = sandbox.RunWithRegistry({"reg", "import", file.string()});
  ASSERT_EQ(imported.exitCode, 0) << imported.err;
  HostRun exported = sandbox.RunWithRegistry({"reg", "export"});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;

  const std::string& text = exported.out;
  EXPECT_EQ(Lines(text).front(), "Windows Registry Editor Version 5.00");
  // Classes imported through HKEY_CLASSES_ROOT are the machine's, and a
  // whole export prints them where they are kept.
  EXPECT_TRUE(
      HasLine(text, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\QxTest.Object]"));
  EXPECT_TRUE(HasLine(text, "@=\"Test object\""));
  EXPECT_TRUE(HasLine(text, "\"Count\"=dword:0000002a"));
  EXPECT_TRUE(HasLine(
      text, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\QxTest.Object\\CLSID]"));
  EXPECT_FALSE(HasLine(text, "[HKEY_CLASSES_ROOT\\QxTest.Object]"));
  EXPECT_TRUE(HasLine(text, "\"Name\"=\"caf\xC3\xA9\""));

  // What export writes, import reads back to the same store.
  HostSandbox second;
  fs::path copy = second.Write("copy.reg", text);
  ASSERT_EQ(second.RunWithRegistry({"reg", "import", copy.string()}).exitCode,
            0);
  HostRun again = second.RunWithRegistry({"reg", "export"});
  EXPECT_EQ(again.out, text);
}

TEST(HostReg, Utf16FileImportsLikeUtf8) {
  HostSandbox utf8;
  HostSandbox utf16;
  fs::path a = utf8.Write("a.reg", kSample);
  fs::path b = utf16.Write("b.reg", ToUtf16LeWithBom(kSample));

  ASSERT_EQ(utf8.RunWithRegistry({"reg", "import", a.string()}).exitCode, 0);
  HostRun run = utf16.RunWithRegistry({"reg", "import", b.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(utf16.RunWithRegistry({"reg", "export"}).out,
            utf8.RunWithRegistry({"reg", "export"}).out);
}

TEST(HostReg, ExportOfOneKeyHoldsOnlyItsSubtree) {
  HostSandbox sandbox;
  fs::path file = sandbox.Write("sample.reg", kSample);
  ASSERT_EQ(sandbox.RunWithRegistry({"reg", "import", file.string()}).exitCode,
            0);

  for (const char* key :
       {"HKEY_CLASSES_ROOT\\QxTest.Object", "HKCR\\QxTest.Object"}) {
    SCOPED_TRACE(key);
    HostRun run = sandbox.RunWithRegistry({"reg", "export", key});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(HasLine(run.out, "[HKEY_CLASSES_ROOT\\QxTest.Object]"));
    EXPECT_TRUE(HasLine(run.out, "[HKEY_CLASSES_ROOT\\QxTest.Object\\CLSID]"));
    EXPECT_EQ(run.out.find("HKEY_LOCAL_MACHINE"), std::string::npos);
  }
}

TEST(HostReg, ExportOfMissingKeyFails) {
  HostSandbox sandbox;
  HostRun run =
      sandbox.RunWithRegistry({"reg", "export", "HKEY_CLASSES_ROOT\\Nothing"});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_FALSE(run.err.empty());
  EXPECT_FALSE(fs::exists(sandbox.registry()));
}

TEST(HostReg, DatabaseIsChangedInPlaceOnlyWhenTheStoreChanges) {
  HostSandbox sandbox;
  fs::path file = sandbox.Write("sample.reg", kSample);
  ASSERT_EQ(sandbox.RunWithRegistry({"reg", "import", file.string()}).exitCode,
            0);
  ASSERT_TRUE(fs::exists(sandbox.registry()));
  struct stat first = StatOf(sandbox.registry());
  std::set<std::string> entries = Entries(sandbox.root());

  // Reading leaves the file alone, and its log goes with the last user.
  ASSERT_EQ(sandbox.RunWithRegistry({"reg", "export"}).exitCode, 0);
  struct stat afterExport = StatOf(sandbox.registry());
  EXPECT_EQ(afterExport.st_ino, first.st_ino);
  EXPECT_EQ(afterExport.st_mtim.tv_sec, first.st_mtim.tv_sec);
  EXPECT_EQ(afterExport.st_mtim.tv_nsec, first.st_mtim.tv_nsec);
  EXPECT_EQ(Entries(sandbox.root()), entries);

  // A change goes into the same file; nothing is left beside it.
  fs::path more = sandbox.Write(
      "more.reg",
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\QxMore]\r\n\"On\"=dword:00000001\r\n");
  entries.insert("more.reg");
  ASSERT_EQ(sandbox.RunWithRegistry({"reg", "import", more.string()}).exitCode,
            0);
  EXPECT_EQ(StatOf(sandbox.registry()).st_ino, first.st_ino);
  EXPECT_EQ(Entries(sandbox.root()), entries);
  EXPECT_TRUE(HasLine(sandbox.RegistryText(),
                      "[HKEY_CURRENT_USER\\Software\\QxMore]"));
}

TEST(HostReg, MalformedRegistryFileIsLeftUntouched) {
  HostSandbox sandbox;
  fs::path file = sandbox.Write("sample.reg", kSample);
  std::vector<std::string> contents = BadlyEncoded();
  contents.insert(contents.begin(), "this is not a registry\n[HKEY_NOWHERE\n");

  for (const std::string& bad : contents) {
    sandbox.Write(sandbox.registry().filename().string(), bad);
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"reg", "export"},
          std::vector<std::string>{"reg", "import", file.string()}}) {
      HostRun run = sandbox.RunWithRegistry(words);
      EXPECT_EQ(run.exitCode, kExitFailure) << bad;
      EXPECT_NE(run.err.find(sandbox.registry().string()), std::string::npos)
          << run.err;
      EXPECT_TRUE(run.out.empty());
      EXPECT_EQ(ReadFile(sandbox.registry()), bad);
    }
  }
}

TEST(HostReg, MalformedImportChangesNothing) {
  HostSandbox sandbox;
  fs::path good = sandbox.Write("sample.reg", kSample);
  ASSERT_EQ(sandbox.RunWithRegistry({"reg", "import", good.string()}).exitCode,
            0);
  std::string before = sandbox.RegistryText();
  struct stat first = StatOf(sandbox.registry());

  fs::path bad =
      sandbox.Write("bad.reg",
                    "Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_CLASSES_ROOT\\QxBad]\r\n\"Fine\"=\"yes\"\r\n"
                    "\"Broken\"=dword:notanumber\r\n");
  HostRun run = sandbox.RunWithRegistry({"reg", "import", bad.string()});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_FALSE(run.err.empty());
  EXPECT_EQ(sandbox.RegistryText(), before);
  EXPECT_EQ(StatOf(sandbox.registry()).st_ino, first.st_ino);

  // A UTF-16 file cut in the middle of a character is refused as well.
  std::string cut = ToUtf16LeWithBom(kSample);
  cut.pop_back();
  fs::path torn = sandbox.Write("torn.reg", cut);
  EXPECT_EQ(sandbox.RunWithRegistry({"reg", "import", torn.string()}).exitCode,
            kExitFailure);
  EXPECT_EQ(sandbox.RegistryText(), before);

  // So is one whose encoding is broken, with a message that names it.
  for (const std::string& bytes : BadlyEncoded()) {
    fs::path broken = sandbox.Write("broken.reg", bytes);
    HostRun refused =
        sandbox.RunWithRegistry({"reg", "import", broken.string()});
    EXPECT_EQ(refused.exitCode, kExitFailure) << bytes;
    EXPECT_NE(refused.err.find(broken.string()), std::string::npos)
        << refused.err;
    EXPECT_EQ(sandbox.RegistryText(), before);
    EXPECT_EQ(StatOf(sandbox.registry()).st_ino, first.st_ino);
  }
}

TEST(HostReg, DefaultFileLivesInTheStateHome) {
  HostSandbox sandbox;
  fs::path file = sandbox.Write("sample.reg", kSample);

  ASSERT_EQ(sandbox.Run({"reg", "import", file.string()}).exitCode, 0);
  EXPECT_TRUE(
      fs::exists(sandbox.root() / "state" / "qxkorvex" / "registry.db"));

  // Without XDG_STATE_HOME: ~/.local/state.
  sandbox.environment()["XDG_STATE_HOME"] = "";
  ASSERT_EQ(sandbox.Run({"reg", "import", file.string()}).exitCode, 0);
  EXPECT_TRUE(fs::exists(sandbox.root() / "home" / ".local" / "state" /
                         "qxkorvex" / "registry.db"));
  HostRun run = sandbox.Run({"reg", "export", "HKLM\\SOFTWARE\\QxTest"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(HasLine(run.out, "\"Name\"=\"caf\xC3\xA9\""));
}

TEST(HostReg, ShiftJisCodePageIsAccepted) {
  HostSandbox sandbox;
  fs::path file = sandbox.Write("sample.reg", kSample);
  EXPECT_EQ(
      sandbox.RunWithRegistry({"--acp", "932", "reg", "import", file.string()})
          .exitCode,
      0);
  HostRun run = sandbox.RunWithRegistry({"--acp=932", "reg", "export"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(HasLine(run.out, "\"Name\"=\"caf\xC3\xA9\""));
}

// Files in the older format, as regedit writes them ("REGEDIT4", CRLF, no
// byte-order mark): text in the ANSI code page --acp chooses, and string
// data written as hex in ANSI bytes. Exports stay in the current format.
TEST(HostReg, Regedit4FileImportsInTheChosenCodePage) {
  HostSandbox sandbox;
  fs::path western =
      sandbox.Write("western.reg",
                    "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Caf\xE9]\r\n"
                    "\"Name\"=\"\xE9t\xE9\"\r\n"
                    "\"Path\"=hex(2):25,54,45,4d,50,25,5c,e9,00\r\n\r\n");
  HostRun run = sandbox.RunWithRegistry({"reg", "import", western.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  run =
      sandbox.RunWithRegistry({"reg", "export", "HKCU\\Software\\Caf\xC3\xA9"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Lines(run.out).front(), "Windows Registry Editor Version 5.00");
  EXPECT_TRUE(HasLine(run.out, "\"Name\"=\"\xC3\xA9t\xC3\xA9\""));
  EXPECT_TRUE(HasLine(run.out,
                      "\"Path\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,"
                      "5c,00,e9,00,00,00"))
      << run.out;

  // "表" is 95 5C in code page 932: one character, not a backslash that
  // would escape the closing quote.
  fs::path japanese = sandbox.Write(
      "japanese.reg",
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Qx\x95\x5C]\r\n"
      "\"\x96\xBC\"=\"\x92\x6C\x95\x5C\"\r\n\r\n");
  const std::string before = sandbox.RegistryText();
  run = sandbox.RunWithRegistry({"reg", "import", japanese.string()});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_NE(run.err.find(japanese.string()), std::string::npos) << run.err;
  EXPECT_EQ(sandbox.RegistryText(), before);

  run = sandbox.RunWithRegistry(
      {"--acp", "932", "reg", "import", japanese.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  run = sandbox.RunWithRegistry(
      {"reg", "export", "HKCU\\Software\\Qx\xE8\xA1\xA8"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(HasLine(run.out, "\"\xE5\x90\x8D\"=\"\xE5\x80\xA4\xE8\xA1\xA8\""))
      << run.out;
}

}  // namespace
