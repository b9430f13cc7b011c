// The registry's .reg text: export and import round trips of every value
// type, the text format regedit reads, merging and deleting through imported
// text, and refusing malformed text without touching the store.
#include <windows.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "support/platform_fixture.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";
// An empty registry still has the machine's classes key, as Windows does.
constexpr char kEmptyRegistry[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\r\n\r\n";

// Text as a UTF-16LE file with its byte-order mark.
std::string Utf16WithMark(const std::u16string& text) {
  std::string bytes("\xFF\xFE", 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

class RegistryFileTest : public PlatformTest {
 protected:
  HKEY Create(HKEY parent, const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }
  void Set(HKEY key, const char* name, DWORD type, const std::string& data) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, type,
                             reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
  }
  std::string Query(HKEY root, const char* path, const char* name,
                    DWORD* type = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return "<no key>";
    BYTE data[2048];
    DWORD size = sizeof(data);
    LSTATUS status = RegQueryValueExA(key, name, nullptr, type, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "<" + std::to_string(status) + ">";
    return std::string(reinterpret_cast<char*>(data), size);
  }
  bool Exists(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return false;
    RegCloseKey(key);
    return true;
  }
  std::string ExportAll() {
    std::string text;
    std::string error;
    EXPECT_TRUE(qxplatform::ExportRegistryText(nullptr, &text, &error))
        << error;
    return text;
  }
  // A .reg file's bytes, imported as qxhost reg import does.
  bool ImportFile(const fs::path& path, std::string* error) {
    return qxplatform::ImportRegistryText(ReadFile(path), error);
  }
  std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }
  void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
  }
  // One key of every kind of content.
  void FillStore() {
    HKEY key = Create(HKEY_CLASSES_ROOT, "Kinds\\Sub \"quoted\"");
    Set(key, nullptr, REG_SZ, std::string("default\0", 8));
    Set(key, "plain", REG_SZ, std::string("C:\\dir\\\"x\"\0", 11));
    Set(key, "back\\slash \"name\"", REG_SZ, std::string("\0", 1));
    Set(key, "bare", REG_SZ, "no terminator");
    Set(key, "lines", REG_SZ, std::string("a\r\nb\0", 5));
    Set(key, "expand", REG_EXPAND_SZ, std::string("%SystemRoot%\0", 13));
    Set(key, "multi", REG_MULTI_SZ, std::string("a\0bb\0\0", 6));
    Set(key, "dword", REG_DWORD, std::string("\x0a\x00\x00\x80", 4));
    Set(key, "odd dword", REG_DWORD, std::string("\x01\x02", 2));
    Set(key, "qword", REG_QWORD,
        std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
    Set(key, "none", REG_NONE, "");
    Set(key, "empty binary", REG_BINARY, "");
    std::string big;
    for (int i = 0; i < 300; ++i) big.push_back(static_cast<char>(i));
    Set(key, "big binary", REG_BINARY, big);
    Set(key, "odd type", 0x20000, "\x7f");
    RegCloseKey(key);
    RegCloseKey(Create(HKEY_CLASSES_ROOT, "Kinds\\Empty"));
    RegCloseKey(Create(HKEY_LOCAL_MACHINE, "Software\\Brackets]in[name"));
    HKEY root = HKEY_CURRENT_USER;
    Set(root, "on the root", REG_DWORD, std::string("\x01\0\0\0", 4));
  }

  ScratchDirectory m_scratch{"qxregistry"};
  const fs::path m_dir = m_scratch.path();
};

// ---- round trips
// -------------------------------------------------------------

TEST_F(RegistryFileTest, ExportImportRoundTripKeepsEverything) {
  FillStore();
  std::string first = ExportAll();
  qxplatform::ResetRegistry();
  EXPECT_EQ(ExportAll(), kEmptyRegistry);
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(first, &error)) << error;
  EXPECT_EQ(ExportAll(), first);
  DWORD type = 0;
  EXPECT_EQ(Query(HKEY_CLASSES_ROOT, "Kinds\\Sub \"quoted\"", "bare", &type),
            "no terminator");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(
      Query(HKEY_CLASSES_ROOT, "Kinds\\Sub \"quoted\"", "back\\slash \"name\""),
      std::string("\0", 1));
  EXPECT_EQ(Query(HKEY_CLASSES_ROOT, "Kinds\\Sub \"quoted\"", "lines"),
            std::string("a\r\nb\0", 5));
  EXPECT_EQ(
      Query(HKEY_CLASSES_ROOT, "Kinds\\Sub \"quoted\"", "odd type", &type),
      "\x7f");
  EXPECT_EQ(type, 0x20000u);
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Kinds\\Empty"));
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, "Software\\Brackets]in[name"));
  EXPECT_EQ(Query(HKEY_CURRENT_USER, "", "on the root"),
            std::string("\x01\0\0\0", 4));
}

// The same text without the mark, as regedit or a person writes it, loads.
TEST_F(RegistryFileTest, TextWithoutTheMarkImportsAsItStands) {
  fs::path file = m_dir / "hand.reg";
  std::ofstream(file, std::ios::binary)
      << "Windows Registry Editor Version "
         "5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n"
         "\"v\"=dword:0000000";  // cut inside the data, still a dword
  std::string error;
  ASSERT_TRUE(ImportFile(file, &error)) << error;
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "A"));
}

// ---- the text format
// ---------------------------------------------------------

TEST_F(RegistryFileTest, ExportWritesRegeditText) {
  HKEY key = Create(HKEY_CLASSES_ROOT, "App\\CLSID");
  Set(key, nullptr, REG_SZ, std::string("a \"q\" \\ b\0", 10));
  Set(key, "n", REG_DWORD, std::string("\x0a\0\0\0", 4));
  Set(key, "b", REG_BINARY, "\x0a\xff");
  Set(key, "e", REG_EXPAND_SZ, std::string("x\0", 2));
  RegCloseKey(key);
  std::string text;
  std::string error;
  ASSERT_TRUE(qxplatform::ExportRegistryText("hkcr\\app", &text, &error))
      << error;
  EXPECT_EQ(text, std::string(kHeader) +
                      "[HKEY_CLASSES_ROOT\\App]\r\n"
                      "\r\n"
                      "[HKEY_CLASSES_ROOT\\App\\CLSID]\r\n"
                      "@=\"a \\\"q\\\" \\\\ b\"\r\n"
                      "\"n\"=dword:0000000a\r\n"
                      "\"b\"=hex:0a,ff\r\n"
                      "\"e\"=hex(2):78,00,00,00\r\n"
                      "\r\n");
}

TEST_F(RegistryFileTest, ExportOfMissingKeyFails) {
  std::string text = "untouched";
  std::string error;
  EXPECT_FALSE(qxplatform::ExportRegistryText("HKCR\\Nothing", &text, &error));
  EXPECT_NE(error.find("HKCR\\Nothing"), std::string::npos) << error;
  EXPECT_EQ(text, "untouched");
  EXPECT_FALSE(qxplatform::ExportRegistryText("HKEY_NOWHERE", &text, &error));
}

TEST_F(RegistryFileTest, ImportReadsContinuationsCommentsAndShortRoots) {
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
      "\n"
      "; a comment\n"
      "[HKLM\\Soft]\n"
      "\"Bin\"=hex:01,02,\\\n"
      "  03,\\\n"
      "  04\n"
      "\"Num\"=DWORD:FFFFFFFF\n"
      "\"Q\"=hex(b):01,00,00,00,00,00,00,00\n"
      "@=\"x\"\n"
      "  ; indented comment\n"
      "[hkey_users\\.DEFAULT\\A]\r\n",
      &error))
      << error;
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "Soft", "Bin"), "\x01\x02\x03\x04");
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "Soft", "Num"), "\xff\xff\xff\xff");
  DWORD type = 0;
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "Soft", "Q", &type).size(), 8u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_QWORD));
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "Soft", ""), std::string("x\0", 2));
  EXPECT_TRUE(Exists(HKEY_USERS, ".DEFAULT\\A"));
  EXPECT_TRUE(qxplatform::RegistryChanged());
}

TEST_F(RegistryFileTest, ImportDeletesKeyTreesAndValues) {
  HKEY key = Create(HKEY_CLASSES_ROOT, "Tree\\Deep\\Deeper");
  Set(key, "v", REG_BINARY, "1");
  HKEY kept = Create(HKEY_CLASSES_ROOT, "Kept");
  Set(kept, "gone", REG_BINARY, "1");
  Set(kept, "stays", REG_BINARY, "1");
  RegCloseKey(kept);
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[-HKEY_CLASSES_ROOT\\Tree]\r\n"
      "\"ignored\"=\"value of a removed key\"\r\n"
      "[-HKEY_CLASSES_ROOT\\NeverExisted]\r\n"
      "[HKEY_CLASSES_ROOT\\Kept]\r\n"
      "\"gone\"=-\r\n"
      "\"absent\"=-\r\n",
      &error))
      << error;
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "Tree"));
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  RegCloseKey(key);
  EXPECT_EQ(Query(HKEY_CLASSES_ROOT, "Kept", "gone"), "<2>");
  EXPECT_EQ(Query(HKEY_CLASSES_ROOT, "Kept", "stays"), "1");
}

TEST_F(RegistryFileTest, ImportReadsUtf16WithBom) {
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_CLASSES_ROOT\\\u30BD\u8868]\r\n"
      u"\"\u540D\"=\"\u5024\"\r\n";
  fs::path file = m_dir / "wide.reg";
  WriteFile(file, Utf16WithMark(text));
  std::string error;
  ASSERT_TRUE(ImportFile(file, &error)) << error;
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  // U+30BD U+8868 and U+540D U+5024 in code page 932.
  EXPECT_EQ(Query(HKEY_CLASSES_ROOT, "\x83\x5C\x95\x5C", "\x96\xBC"),
            std::string("\x92\x6C\0", 3));
}

// ---- REGEDIT4
// -----------------------------------------------------------------

// As regedit writes the older format ("Win9x/NT4 Registration Files"): ANSI
// text without a byte-order mark, CRLF, string data in hex as ANSI bytes,
// long hex data continued over lines, a blank line at the end.
constexpr char kRegedit4Western[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Qx Caf\xE9]\r\n"
    "@=\"d\xE9"
    "faut \\\"quoted\\\" \\\\ \x80\"\r\n"
    "\"Na\xEFve\"=\"\xE9t\xE9\"\r\n"
    "\"Path\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,51,78,20,43,61,66,"
    "e9,\\\r\n"
    "  5c,71,78,2e,64,6c,6c,00\r\n"
    "\"List\"=hex(7):6f,6e,65,00,74,77,e9,00,00\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "\"Raw\"=hex:e9,00\r\n"
    "\r\n";

TEST_F(RegistryFileTest, Regedit4TextIsReadInTheAnsiCodePage) {
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(kRegedit4Western, &error))
      << error;
  std::string text;
  ASSERT_TRUE(qxplatform::ExportRegistryText("HKCU\\Software\\Qx Caf\xC3\xA9",
                                             &text, &error))
      << error;
  // Stored as UTF-16 and written back in the current format: the strings as
  // text, the hex strings as UTF-16 (é is e9,00), binary data untouched.
  EXPECT_EQ(
      text,
      std::string(kHeader) +
          "[HKEY_CURRENT_USER\\Software\\Qx Caf\xC3\xA9]\r\n"
          "@=\"d\xC3\xA9"
          "faut \\\"quoted\\\" \\\\ \xE2\x82\xAC\"\r\n"
          "\"Na\xC3\xAFve\"=\"\xC3\xA9t\xC3\xA9\"\r\n"
          "\"Path\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,"
          "6f,00,6f,00,74,\\\r\n"
          "  00,25,00,5c,00,51,00,78,00,20,00,43,00,61,00,66,00,e9,00,5c,00,"
          "71,00,78,00,\\\r\n"
          "  2e,00,64,00,6c,00,6c,00,00,00\r\n"
          "\"List\"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,e9,00,00,00,"
          "00,00\r\n"
          "\"Count\"=dword:0000002a\r\n"
          "\"Raw\"=hex:e9,00\r\n"
          "\r\n");
  EXPECT_EQ(Query(HKEY_CURRENT_USER, "Software\\Qx Caf\xE9", "Na\xEFve"),
            std::string("\xE9t\xE9\0", 4));
}

// In code page 932 a character's second byte may be 0x5C, a backslash in
// ASCII: "表" is 95 5C. Read as characters, it neither splits a key name nor
// escapes the quote after it.
TEST_F(RegistryFileTest, Regedit4TextIsReadAsDoubleByteCharacters) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  const std::string text =
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Qx\x95\x5C]\r\n"
      "\"\x96\xBC\"=\"\x92\x6C\x95\x5C\"\r\n"
      "\"Path\"=hex(2):83,5c,83,74,83,67,00\r\n"
      "\"List\"=hex(7):95,5c,00,b1,00,00\r\n"
      "\r\n";
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(text, &error)) << error;
  std::string exported;
  ASSERT_TRUE(qxplatform::ExportRegistryText("HKCU\\Software\\Qx\xE8\xA1\xA8",
                                             &exported, &error))
      << error;
  // 表 U+8868, 名 U+540D, 値 U+5024, ソフト U+30BD U+30D5 U+30C8, half-width
  // katakana A U+FF71.
  EXPECT_EQ(exported, std::string(kHeader) +
                          "[HKEY_CURRENT_USER\\Software\\Qx\xE8\xA1\xA8]\r\n"
                          "\"\xE5\x90\x8D\"=\"\xE5\x80\xA4\xE8\xA1\xA8\"\r\n"
                          "\"Path\"=hex(2):bd,30,d5,30,c8,30,00,00\r\n"
                          "\"List\"=hex(7):68,88,00,00,71,ff,00,00,00,00\r\n"
                          "\r\n");
}

// A REGEDIT4 file saved again by an editor in Unicode: the mark says how the
// text is written, and the hex string data is still ANSI.
TEST_F(RegistryFileTest, Regedit4TextWithAByteOrderMarkIsUnicode) {
  for (const std::string& text :
       {std::string(
            "\xEF\xBB\xBFREGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Caf\xC3\xA9]"
            "\r\n\"E\"=hex(2):e9,00\r\n"),
        Utf16WithMark(u"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Caf\u00E9]\r\n"
                      u"\"E\"=hex(2):e9,00\r\n")}) {
    qxplatform::ResetRegistry();
    std::string error;
    ASSERT_TRUE(qxplatform::ImportRegistryText(text, &error)) << error;
    std::string exported;
    ASSERT_TRUE(
        qxplatform::ExportRegistryText("HKCU\\Caf\xC3\xA9", &exported, &error))
        << error;
    EXPECT_EQ(exported, std::string(kHeader) +
                            "[HKEY_CURRENT_USER\\Caf\xC3\xA9]\r\n"
                            "\"E\"=hex(2):e9,00,00,00\r\n\r\n");
  }
}

// Bytes that are no text in the code page in force: refused, naming the line
// and the code page, and nothing is merged.
TEST_F(RegistryFileTest, Regedit4TextThatIsNoTextInTheCodePageIsRefused) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  const char* bad[] = {
      // A lead byte before a line end.
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"v\"=\"x\x95\"\r\n",
      // An unassigned double-byte code.
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"\x85\x40\"=\"x\"\r\n",
      // Hex string data ending inside a character.
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"v\"=hex(2):41,95\r\n",
  };
  for (const char* text : bad) {
    std::string error;
    EXPECT_FALSE(qxplatform::ImportRegistryText(text, &error)) << text;
    EXPECT_NE(error.find("line 4"), std::string::npos) << error;
    EXPECT_NE(error.find("code page 932"), std::string::npos) << error;
    EXPECT_EQ(ExportAll(), kEmptyRegistry) << text;
  }
}

// ---- malformed text
// ------------------------------------------------------------

TEST_F(RegistryFileTest, MalformedTextAppliesNothing) {
  const char* bad[] = {
      "REGEDIT\n\n[HKEY_CLASSES_ROOT\\A]\n",
      "REGEDIT 4\n\n[HKEY_CLASSES_ROOT\\A]\n",
      "Windows Registry Editor Version 5.00\n\n\"v\"=\"outside\"\n",
      "Windows Registry Editor Version 5.00\n\n[HKEY_NOWHERE\\A]\n",
      "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\A\n",
      "Windows Registry Editor Version 5.00\n\n[-HKEY_CLASSES_ROOT]\n",
      "Windows Registry Editor Version 5.00\n\n[HKCR\\A]\n\"v\"=hex:1,2g\n",
      "Windows Registry Editor Version 5.00\n\n[HKCR\\A]\n\"v\"=hex(zz):00\n",
      "Windows Registry Editor Version 5.00\n\n[HKCR\\A]\n\"v\"=\"open\n",
      "Windows Registry Editor Version 5.00\n\n[HKCR\\A]\n\"v\"=text\n",
      "Windows Registry Editor Version 5.00\n\n[HKCR\\A]\n\"v\" \"x\"\n",
      "Windows Registry Editor Version 5.00\n\n[HKCR\\A]\n\"v\"=\"\xC3\x28\"\n",
      "Windows Registry Editor Version 5.00\n\n[HKCR\\A]\nstray text\n",
      "\xFF\xFEW",
      "",
  };
  for (const char* text : bad) {
    std::string error;
    EXPECT_FALSE(qxplatform::ImportRegistryText(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
    EXPECT_EQ(ExportAll(), kEmptyRegistry) << text;
  }
  std::string longName = "Windows Registry Editor Version 5.00\n\n[HKCR\\" +
                         std::string(256, 'k') + "]\n";
  std::string error;
  EXPECT_FALSE(qxplatform::ImportRegistryText(longName, &error));
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
  EXPECT_FALSE(qxplatform::RegistryChanged());
}

// ---- atomic saves
// -----------------------------------------------------------------

TEST_F(RegistryFileTest, ChangedFlagFollowsWritesOpensAndResets) {
  EXPECT_FALSE(qxplatform::RegistryChanged());
  std::string error;
  const std::string file = (m_dir / "r.db").string();
  ASSERT_TRUE(qxplatform::OpenRegistryDatabase(file.c_str(), &error)) << error;
  RegCloseKey(Create(HKEY_CLASSES_ROOT, "K"));
  EXPECT_TRUE(qxplatform::RegistryChanged());
  ASSERT_TRUE(qxplatform::OpenRegistryDatabase(file.c_str(), &error)) << error;
  EXPECT_FALSE(qxplatform::RegistryChanged());
  HKEY key = Create(HKEY_CLASSES_ROOT, "K");  // opening changes nothing
  EXPECT_FALSE(qxplatform::RegistryChanged());
  Set(key, "v", REG_BINARY, "1");
  EXPECT_TRUE(qxplatform::RegistryChanged());
  qxplatform::ResetRegistry();
  EXPECT_FALSE(qxplatform::RegistryChanged());
  RegCloseKey(key);
}

}  // namespace
