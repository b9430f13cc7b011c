// qxhost regsvr32 and call with a library in a folder whose name is not
// ASCII. The path is typed in the terminal's encoding (the locale's; the C
// locale's is ASCII) and reaches the platform in the ANSI code page; bytes
// that are no text in the terminal's encoding reach it as they are, as a
// folder named on another system holds them. The path the library registers
// for itself loads the same file again when the class is created by ProgID.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/host_runner.h"

namespace {

namespace fs = std::filesystem;
using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::kExitUsage;
using hosttest::LastLine;
using hosttest::Lines;

constexpr char kClsid[] = "{EC68AD82-001E-4396-9CDC-ED264E512EE4}";
constexpr char kProgId[] = "QxKorvex.InstallKorvex";
constexpr char kServerKey[] =
    "HKCR\\CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}\\InprocServer32";

// "表示" in UTF-8 and in Shift-JIS; the first character's second byte in
// Shift-JIS is 0x5C, a backslash in ASCII.
constexpr char kJapaneseUtf8[] = "\xE8\xA1\xA8\xE7\xA4\xBA";
constexpr char kJapaneseShiftJis[] = "\x95\x5C\x8E\xA6";

class HostLibraryNames : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(m_sandbox.root() / "bin");
    m_sandbox.environment()["PATH"] = (m_sandbox.root() / "bin").string();
    Terminal("C.UTF-8");
  }

  // The locale the host's terminal is in.
  void Terminal(const std::string& locale) {
    m_sandbox.environment()["LC_ALL"] = locale;
    m_sandbox.environment()["LC_CTYPE"] = "";
    m_sandbox.environment()["LANG"] = "";
  }

  // A copy of the library in a folder named by these bytes; the only copy
  // there is under the sandbox.
  std::string LibraryIn(const std::string& folder) {
    fs::path directory = m_sandbox.root() / folder;
    fs::create_directory(directory);
    fs::path copy = directory / fs::path(QX_LIBRARY_PATH).filename();
    fs::copy_file(QX_LIBRARY_PATH, copy);
    return copy.string();
  }
  std::string PathIn(const std::string& folder) const {
    return (m_sandbox.root() / folder / fs::path(QX_LIBRARY_PATH).filename())
        .string();
  }

  HostRun Host(const std::vector<std::string>& options,
               const std::vector<std::string>& words) {
    std::vector<std::string> all = options;
    all.insert(all.end(), words.begin(), words.end());
    return m_sandbox.RunWithRegistry(all);
  }

  // Registers the library typed as typed, checks the path it registered
  // (in UTF-8, as export writes it), creates the class by ProgID and from
  // the library, and unregisters it.
  void ExpectRegistersAndServes(const std::vector<std::string>& options,
                                const std::string& typed,
                                const std::string& registered) {
    HostRun run = Host(options, {"regsvr32", typed});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(LastLine(run.out), "0x00000000");

    run = Host(options, {"reg", "export", kServerKey});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "@=\"" + registered + "\""),
              lines.end())
        << run.out;

    run = Host(options, {"call", kProgId, "install"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(LastLine(run.out), "-2");

    run = Host(options, {"call", "--library", typed, kClsid, "install"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(LastLine(run.out), "-2");

    run = Host(options, {"regsvr32", "-u", typed});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = Host(options, {"call", kProgId, "install"});
    EXPECT_EQ(run.err.rfind("error: 0x800401F3", 0), 0u) << run.err;
  }

  HostSandbox m_sandbox;
};

TEST_F(HostLibraryNames, Utf8NamedFolder) {
  const std::string library = LibraryIn("caf\xC3\xA9");
  ExpectRegistersAndServes({}, library, library);
}

// Latin-1 bytes on disk are no UTF-8: typed, they reach the file as they
// are, and the library registers its path as the Latin-1 text it is in code
// page 1252.
TEST_F(HostLibraryNames, LatinOneNamedFolder) {
  const std::string library = LibraryIn("lat\xE9");
  ExpectRegistersAndServes({}, library, PathIn("lat\xC3\xA9"));
}

TEST_F(HostLibraryNames, JapaneseNamedFolderUnderCodePage932) {
  const std::string library = LibraryIn(kJapaneseUtf8);
  ExpectRegistersAndServes({"--acp", "932"}, library, library);
}

// A folder copied with its Shift-JIS name: its bytes are no UTF-8.
TEST_F(HostLibraryNames, ShiftJisNamedFolderUnderCodePage932) {
  const std::string library = LibraryIn(kJapaneseShiftJis);
  ExpectRegistersAndServes({"--acp", "932"}, library, PathIn(kJapaneseUtf8));
}

// In the C locale the terminal's text is ASCII: the UTF-8 bytes of the path
// are passed on as they are, and still reach the file.
TEST_F(HostLibraryNames, CLocaleTerminalPassesBytesOn) {
  Terminal("C");
  const std::string library = LibraryIn("caf\xC3\xA9");
  ExpectRegistersAndServes({}, library, library);
}

// A path whose text has characters the ANSI code page lacks cannot be handed
// to LoadLibraryA: a usage error that says so, before the registry is
// touched.
TEST_F(HostLibraryNames, NameWithoutAnAnsiFormIsAUsageError) {
  struct Case {
    std::vector<std::string> options;
    std::string folder;
    std::string codePage;
  };
  for (const Case& c : {Case{{}, kJapaneseUtf8, "1252"},
                        Case{{"--acp", "932"}, "caf\xC3\xA9", "932"}}) {
    const std::string library = LibraryIn(c.folder);
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"regsvr32", library},
          std::vector<std::string>{"call", "--library", library, kClsid,
                                   "install"}}) {
      HostRun run = Host(c.options, words);
      EXPECT_EQ(run.exitCode, kExitUsage) << run.err;
      EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
      EXPECT_NE(run.err.find(library), std::string::npos) << run.err;
      EXPECT_NE(run.err.find("code page " + c.codePage), std::string::npos)
          << run.err;
      EXPECT_TRUE(run.out.empty()) << run.out;
      EXPECT_FALSE(fs::exists(m_sandbox.registry()));
    }
  }
}

TEST_F(HostLibraryNames, MissingLibraryUnderANonAsciiNameIsStillNotFound) {
  fs::create_directory(m_sandbox.root() / "caf\xC3\xA9");
  HostRun run = Host({}, {"regsvr32", PathIn("caf\xC3\xA9")});
  EXPECT_EQ(run.exitCode, kExitUsage);
  EXPECT_EQ(run.err.rfind("error: 0x8007007E", 0), 0u) << run.err;
}

// Other words are text in the terminal's encoding as well: a ProgID, and a
// key to export, typed in an ISO-8859-1 terminal (whose locale this system
// need not have installed: its name says the encoding).
TEST_F(HostLibraryNames, ProgIdAndKeyAreTextInTheTerminalsEncoding) {
  std::ofstream(m_sandbox.root() / "class.reg", std::ios::binary)
      << "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_CLASSES_ROOT\\Qx.Caf\xC3\xA9\\CLSID]\r\n@=\""
      << kClsid << "\"\r\n\r\n[HKEY_CLASSES_ROOT\\CLSID\\" << kClsid
      << "\\InprocServer32]\r\n@=\"" << QX_LIBRARY_PATH << "\"\r\n";
  ASSERT_EQ(
      Host({}, {"reg", "import", (m_sandbox.root() / "class.reg").string()})
          .exitCode,
      0);

  HostRun run = Host({}, {"call", "Qx.Caf\xC3\xA9", "install"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LastLine(run.out), "-2");

  Terminal("de_DE.ISO-8859-1");
  run = Host({}, {"call", "Qx.Caf\xE9", "install"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(LastLine(run.out), "-2");
  run = Host({}, {"reg", "export", "HKCR\\Qx.Caf\xE9"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("[HKEY_CLASSES_ROOT\\Qx.Caf\xC3\xA9\\CLSID]"),
            std::string::npos)
      << run.out;
}

}  // namespace
