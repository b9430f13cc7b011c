// The library's own registration script (installer/resources/qxKorvex.rgs, 26
// lines with tabs and CR LF), run the way the library's registration runs it:
// the variable "Module" bound to the library's path with every single quote
// written twice. Checks the exact registry state it writes, that running it
// again changes nothing, and what unregistration leaves.
#include <algorithm>
#include <string>
#include <vector>

#include "registrar_fixture.h"

namespace {

constexpr char kClassKey[] = "CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}";

class LibraryScriptTest : public RegistrarTest {
 protected:
  static std::u16string DoubleQuotes(const std::u16string& path) {
    std::u16string doubled;
    for (char16_t c : path) {
      doubled += c;
      if (c == u'\'') doubled += c;
    }
    return doubled;
  }
  HRESULT RegisterLibrary(const std::u16string& path) {
    return Register(LibraryScript(), DoubleQuotes(path).c_str());
  }
  HRESULT UnregisterLibrary(const std::u16string& path) {
    return Unregister(LibraryScript(), DoubleQuotes(path).c_str());
  }

  // Every key and value below root, one line each, in a stable order.
  static std::vector<std::string> Snapshot(HKEY root) {
    std::vector<std::string> lines;
    AddKey(root, "", &lines);
    std::sort(lines.begin(), lines.end());
    return lines;
  }
  static void AddKey(HKEY parent, const std::string& path,
                     std::vector<std::string>* lines) {
    lines->push_back("[" + path + "]");
    for (DWORD i = 0;; ++i) {
      char name[4096];
      DWORD nameSize = sizeof(name);
      DWORD type = 0;
      BYTE data[4096];
      DWORD dataSize = sizeof(data);
      if (RegEnumValueA(parent, i, name, &nameSize, nullptr, &type, data,
                        &dataSize) != 0) {
        break;
      }
      lines->push_back("[" + path + "] " + name + " " + std::to_string(type) +
                       " " +
                       std::string(reinterpret_cast<char*>(data), dataSize));
    }
    for (DWORD i = 0;; ++i) {
      char name[256];
      DWORD nameSize = sizeof(name);
      if (RegEnumKeyExA(parent, i, name, &nameSize, nullptr, nullptr, nullptr,
                        nullptr) != 0) {
        break;
      }
      HKEY child = nullptr;
      ASSERT_EQ(RegOpenKeyExA(parent, name, 0, KEY_READ, &child), 0);
      AddKey(child, path.empty() ? name : path + "\\" + name, lines);
      RegCloseKey(child);
    }
  }

  static std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  static std::vector<std::string> ExpectedState(const std::string& module) {
    const std::string sz = std::to_string(REG_SZ) + " ";
    const std::string clsid =
        std::string("{EC68AD82-001E-4396-9CDC-ED264E512EE4}") + '\0';
    const std::string cls = std::string(kClassKey);
    std::vector<std::string> lines = {
        "[]",
        "[CLSID]",
        "[" + cls + "]",
        "[" + cls + "]  " + sz + "InstallKorvex Class" + '\0',
        "[" + cls + "\\InprocServer32]",
        "[" + cls + "\\InprocServer32]  " + sz + module + '\0',
        "[" + cls + "\\InprocServer32] ThreadingModel " + sz + "Apartment" +
            '\0',
        "[" + cls + "\\ProgID]",
        "[" + cls + "\\ProgID]  " + sz + "QxKorvex.InstallKorvex.1" + '\0',
        "[" + cls + "\\Programmable]",
        "[" + cls + "\\TypeLib]",
        "[" + cls + "\\TypeLib]  " + sz +
            "{0322C3C2-E7C6-466F-9A3B-33519C4FC6B4}" + '\0',
        "[" + cls + "\\VersionIndependentProgID]",
        "[" + cls + "\\VersionIndependentProgID]  " + sz +
            "QxKorvex.InstallKorvex" + '\0',
        "[QxKorvex.InstallKorvex.1]",
        "[QxKorvex.InstallKorvex.1]  " + sz + "InstallKorvex Class" + '\0',
        "[QxKorvex.InstallKorvex.1\\CLSID]",
        "[QxKorvex.InstallKorvex.1\\CLSID]  " + sz + clsid,
        "[QxKorvex.InstallKorvex]",
        "[QxKorvex.InstallKorvex]  " + sz + "InstallKorvex Class" + '\0',
        "[QxKorvex.InstallKorvex\\CLSID]",
        "[QxKorvex.InstallKorvex\\CLSID]  " + sz + clsid,
        "[QxKorvex.InstallKorvex\\CurVer]",
        "[QxKorvex.InstallKorvex\\CurVer]  " + sz + "QxKorvex.InstallKorvex.1" +
            '\0',
    };
    std::sort(lines.begin(), lines.end());
    return lines;
  }
};

TEST_F(LibraryScriptTest, ScriptFileIsTheTwentySixLineText) {
  const std::string script = LibraryScript();
  EXPECT_EQ(std::count(script.begin(), script.end(), '\n'), 26);
  EXPECT_EQ(std::count(script.begin(), script.end(), '\r'), 26);
  EXPECT_EQ(script.substr(0, 6), "HKCR\r\n");
  EXPECT_EQ(script.substr(script.size() - 3), "}\r\n");
}

TEST_F(LibraryScriptTest, RegistersExactlyTheClassEntries) {
  const std::u16string path = u"/opt/qx/lib/libqxKorvex.so";
  ASSERT_EQ(RegisterLibrary(path), S_OK);
  EXPECT_EQ(Snapshot(HKEY_CLASSES_ROOT),
            ExpectedState("/opt/qx/lib/libqxKorvex.so"));
  ExpectNothingHeld();
}

TEST_F(LibraryScriptTest, PathWithASingleQuoteIsStoredUnchanged) {
  const std::u16string path = u"C:\\Program Files\\O'Brien's\\qxKorvex.dll";
  ASSERT_EQ(RegisterLibrary(path), S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT,
                       std::string(kClassKey) + "\\InprocServer32"),
            "C:\\Program Files\\O'Brien's\\qxKorvex.dll");
  EXPECT_EQ(Snapshot(HKEY_CLASSES_ROOT),
            ExpectedState("C:\\Program Files\\O'Brien's\\qxKorvex.dll"));
}

TEST_F(LibraryScriptTest, PathWithDoubleByteCharactersIsStoredByteForByte) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  // U+8868 and U+30BD end in the byte 0x5C ("\") in code page 932; U+30A2
  // with 0x41 ("A"), and a quote follows the folder name.
  const std::u16string path = std::u16string(u"C:\\") + char16_t(0x8868) +
                              char16_t(0x30BD) + char16_t(0x30A2) +
                              u"'\\qxKorvex.dll";
  const std::string ansi = "C:\\\x95\x5C\x83\x5C\x83\x41'\\qxKorvex.dll";
  ASSERT_EQ(RegisterLibrary(path), S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT,
                       std::string(kClassKey) + "\\InprocServer32"),
            ansi);
  EXPECT_EQ(Snapshot(HKEY_CLASSES_ROOT), ExpectedState(ansi));
  ASSERT_EQ(UnregisterLibrary(path), S_OK);
  EXPECT_EQ(Snapshot(HKEY_CLASSES_ROOT), Sorted({"[]", "[CLSID]"}));
  ExpectNothingHeld();
}

TEST_F(LibraryScriptTest, RegisteringTwiceLeavesTheSameState) {
  const std::u16string path = u"C:\\qx\\qxKorvex.dll";
  ASSERT_EQ(RegisterLibrary(path), S_OK);
  const std::vector<std::string> once = Snapshot(HKEY_CLASSES_ROOT);
  ASSERT_EQ(RegisterLibrary(path), S_OK);
  EXPECT_EQ(Snapshot(HKEY_CLASSES_ROOT), once);
  ExpectNothingHeld();
}

TEST_F(LibraryScriptTest, SecondRegistrationReplacesTheClassIdKeyAsAWhole) {
  const std::u16string path = u"C:\\qx\\qxKorvex.dll";
  ASSERT_EQ(RegisterLibrary(path), S_OK);
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}\\"
      "Stale]\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}\\"
      "Programmable\\Inside]\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex\\Extra]\r\n",
      &error))
      << error;
  ASSERT_EQ(RegisterLibrary(path), S_OK);
  EXPECT_FALSE(
      KeyExists(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Stale"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT,
                         std::string(kClassKey) + "\\Programmable\\Inside"));
  // The ProgID keys are overwritten value by value: what else is there stays.
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "QxKorvex.InstallKorvex\\Extra"));
}

TEST_F(LibraryScriptTest, UnregisteringRemovesAllButTheClsidKey) {
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001}]\r\n"
      "@=\"someone "
      "else\"\r\n\r\n[HKEY_CLASSES_ROOT\\.txt]\r\n@=\"txtfile\"\r\n",
      &error))
      << error;
  const std::vector<std::string> before = Snapshot(HKEY_CLASSES_ROOT);
  const std::u16string path = u"C:\\qx\\qxKorvex.dll";
  ASSERT_EQ(RegisterLibrary(path), S_OK);
  ASSERT_EQ(UnregisterLibrary(path), S_OK);
  EXPECT_EQ(Snapshot(HKEY_CLASSES_ROOT), before);
  ASSERT_EQ(UnregisterLibrary(path), S_OK);
  EXPECT_EQ(Snapshot(HKEY_CLASSES_ROOT), before);
  ExpectNothingHeld();
}

TEST_F(LibraryScriptTest, UnregisteringWhenNothingIsRegisteredChangesNothing) {
  ASSERT_EQ(UnregisterLibrary(u"C:\\qx\\qxKorvex.dll"), S_OK);
  EXPECT_FALSE(qxplatform::RegistryChanged());
  ASSERT_EQ(UnregisterLibrary(u"C:\\qx\\qxKorvex.dll"), S_OK);
  EXPECT_FALSE(qxplatform::RegistryChanged());
  ExpectNothingHeld();
}

TEST_F(LibraryScriptTest, OwnSubkeyKeepsTheClassIdKeyAndClsid) {
  const std::u16string path = u"C:\\qx\\qxKorvex.dll";
  ASSERT_EQ(RegisterLibrary(path), S_OK);
  HKEY own = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT,
                            (std::string(kClassKey) + "\\Mine").c_str(), 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &own, nullptr),
            0);
  RegCloseKey(own);
  ASSERT_EQ(UnregisterLibrary(path), S_OK);
  EXPECT_EQ(
      Snapshot(HKEY_CLASSES_ROOT),
      Sorted({"[]", "[CLSID]", "[" + std::string(kClassKey) + "]",
              "[" + std::string(kClassKey) + "]  " + std::to_string(REG_SZ) +
                  " " + "InstallKorvex Class" + '\0',
              "[" + std::string(kClassKey) + "\\Mine]"}));
  ExpectNothingHeld();
}

TEST_F(LibraryScriptTest, MissingModuleVariableFailsAndChangesNothing) {
  EXPECT_EQ(Register(LibraryScript()), DISP_E_EXCEPTION);
  EXPECT_FALSE(qxplatform::RegistryChanged());
  ExpectNothingHeld();
}

TEST_F(LibraryScriptTest, EveryKeyCreateFailureIsRolledBackCleanly) {
  // Each of the script's creates in turn: the run fails with the registry's
  // write error and the block is taken back, CLSID included, since the run
  // created it.
  for (long n = 1; n <= 12; ++n) {
    qxplatform::ResetRegistry();
    qxplatform::FailRegCreateAt(n);
    EXPECT_EQ(RegisterLibrary(u"C:\\qx\\qxKorvex.dll"),
              HRESULT_FROM_WIN32(ERROR_CANTWRITE))
        << n;
    qxplatform::FailRegCreateAt(0);
    EXPECT_EQ(Snapshot(HKEY_CLASSES_ROOT), Sorted({"[]"})) << n;
    EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0) << n;
  }
  ExpectNothingHeld();
}

// The states a registration may find: nothing, a working registration of a
// copy of the library elsewhere, and that registration with entries of
// others under its keys (values of every type, subkeys below the keys a
// ForceRemove replaces).
enum class Found { kNothing, kRegistration, kRegistrationAndMore };

class FailedRegistrationTest : public LibraryScriptTest,
                               public ::testing::WithParamInterface<Found> {
 protected:
  void Prepare() {
    qxplatform::ResetRegistry();
    if (GetParam() == Found::kNothing) return;
    ASSERT_EQ(RegisterLibrary(u"C:\\old\\qxKorvex.dll"), S_OK);
    if (GetParam() == Found::kRegistration) return;
    const std::string cls = "[HKEY_CLASSES_ROOT\\" + std::string(kClassKey);
    Import(cls +
           "\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-"
           "00AA006C42C4}]\r\n\r\n" +
           cls +
           "]\r\n\"AppID\"=\"{11111111-2222-3333-4444-555555555555}\"\r\n"
           "\"Flags\"=dword:00000003\r\n\r\n" +
           cls +
           "\\Programmable\\Inside]\r\n\"Bin\"=hex:de,ad\r\n"
           "\"Multi\"=hex(7):61,00,00,00,00,00\r\n\r\n" +
           cls +
           "\\InprocServer32]\r\n\"Extra\"=hex(2):25,00,00,00\r\n\r\n"
           "[HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex\\Extra]\r\n@=\"e\"\r\n");
  }
  HRESULT RegisterNewCopy(const std::string& text) {
    return Register(text, DoubleQuotes(u"C:\\new\\qxKorvex.dll").c_str());
  }
};

// The script cut short at every byte: a run that fails, wherever it stops,
// leaves the whole store as it found it; a run that succeeds writes what
// its text says.
TEST_P(FailedRegistrationTest, EveryCutOfTheScriptThatFailsChangesNothing) {
  const std::string script = LibraryScript();
  size_t failures = 0;
  for (size_t length = 0; length < script.size(); ++length) {
    Prepare();
    const std::string before = Export();
    const HRESULT hr = RegisterNewCopy(script.substr(0, length));
    if (FAILED(hr)) {
      ++failures;
      EXPECT_EQ(Export(), before)
          << "cut at " << length << ", status 0x" << std::hex << hr;
    }
    ASSERT_EQ(qxplatform::OpenRegistryHandles(), 0) << length;
  }
  // Most cuts end inside the root block.
  EXPECT_GT(failures, script.size() / 2);
  ExpectNothingHeld();
}

// A record the roll-back would need that cannot be had fails the run with
// E_OUTOFMEMORY before the change it would cover is made.
TEST_P(FailedRegistrationTest,
       RecordThatCannotBeHadFailsTheRunBeforeItsChange) {
  HRESULT hr = E_OUTOFMEMORY;
  long n = 1;
  for (; n < 1000 && hr != S_OK; ++n) {
    Prepare();
    const std::string before = Export();
    qxplatform::FailHeapAllocAt(n);
    hr = RegisterNewCopy(LibraryScript());
    qxplatform::FailHeapAllocAt(0);
    if (hr != S_OK) {
      EXPECT_EQ(hr, E_OUTOFMEMORY) << n;
      EXPECT_EQ(Export(), before) << n;
    }
    ASSERT_EQ(qxplatform::OpenRegistryHandles(), 0) << n;
  }
  EXPECT_EQ(hr, S_OK) << "still failing at allocation " << n;
  ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(Registry, FailedRegistrationTest,
                         ::testing::Values(Found::kNothing,
                                           Found::kRegistration,
                                           Found::kRegistrationAndMore));

}  // namespace
