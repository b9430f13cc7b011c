// The library's self-registration as regsvr32 drives it: DllRegisterServer
// and DllUnregisterServer of the built library against a fresh registry,
// with the library at its build path or copied under awkward folder names,
// and registrations that fail part way, which leave the registry as they
// found it.
#include <objbase.h>
#include <oleauto.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "installer/iinstall_korvex.h"
#include "support/platform_fixture.h"

namespace fs = std::filesystem;

namespace {

typedef HRESULT(STDAPICALLTYPE* ServerFunction)(void);

constexpr char kClassKey[] =
    "HKEY_CLASSES_ROOT\\CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}";
constexpr char kTypeLibKey[] =
    "HKEY_CLASSES_ROOT\\TypeLib\\{0322C3C2-E7C6-466F-9A3B-33519C4FC6B4}";

// What registration writes for the class, given the library's file name as
// the .reg text spells it, in the export's order (subkeys by name).
std::string ClassEntries(const std::string& regPath) {
  return "[HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex.1]\r\n"
         "@=\"InstallKorvex Class\"\r\n\r\n"
         "[HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex.1\\CLSID]\r\n"
         "@=\"{EC68AD82-001E-4396-9CDC-ED264E512EE4}\"\r\n\r\n"
         "[HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex]\r\n"
         "@=\"InstallKorvex Class\"\r\n\r\n"
         "[HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex\\CLSID]\r\n"
         "@=\"{EC68AD82-001E-4396-9CDC-ED264E512EE4}\"\r\n\r\n"
         "[HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex\\CurVer]\r\n"
         "@=\"QxKorvex.InstallKorvex.1\"\r\n\r\n"
         "[" +
         std::string(kClassKey) +
         "]\r\n"
         "@=\"InstallKorvex Class\"\r\n\r\n"
         "[" +
         std::string(kClassKey) +
         "\\InprocServer32]\r\n"
         "@=\"" +
         regPath +
         "\"\r\n"
         "\"ThreadingModel\"=\"Apartment\"\r\n\r\n"
         "[" +
         std::string(kClassKey) +
         "\\ProgID]\r\n"
         "@=\"QxKorvex.InstallKorvex.1\"\r\n\r\n"
         "[" +
         std::string(kClassKey) +
         "\\Programmable]\r\n\r\n"
         "[" +
         std::string(kClassKey) +
         "\\TypeLib]\r\n"
         "@=\"{0322C3C2-E7C6-466F-9A3B-33519C4FC6B4}\"\r\n\r\n"
         "[" +
         std::string(kClassKey) +
         "\\VersionIndependentProgID]\r\n"
         "@=\"QxKorvex.InstallKorvex\"\r\n\r\n";
}

// A path as a .reg file writes it: backslashes and quotes escaped.
std::string RegText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

class RegistrationTest : public PlatformTest {
 protected:
  void TearDown() override {
    if (m_library != nullptr) FreeLibrary(m_library);
    if (!m_scratch.empty()) fs::remove_all(m_scratch);
    PlatformTest::TearDown();
  }

  // Loads the library from path (the build's own when empty).
  void Load(const std::string& path = QX_LIBRARY_PATH) {
    m_library = LoadLibraryA(path.c_str());
    ASSERT_NE(m_library, nullptr) << path << ": error " << GetLastError();
    m_register = ServerExport("DllRegisterServer");
    m_unregister = ServerExport("DllUnregisterServer");
    ASSERT_NE(m_register, nullptr);
    ASSERT_NE(m_unregister, nullptr);
  }
  ServerFunction ServerExport(const char* name) {
    return reinterpret_cast<ServerFunction>(
        reinterpret_cast<void*>(GetProcAddress(m_library, name)));
  }

  // A copy of the library in a new folder named folderName (as the file
  // system spells it) under a scratch folder; its path.
  std::string CopyLibraryInto(const std::string& folderName) {
    char pattern[] = "/tmp/qxreg-XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr);
    m_scratch = pattern;
    const fs::path folder = fs::path(m_scratch) / folderName;
    fs::create_directories(folder);
    const fs::path copy = folder / fs::path(QX_LIBRARY_PATH).filename();
    fs::copy_file(QX_LIBRARY_PATH, copy);
    return copy.string();
  }

  static std::string RegistryText(const char* key, bool* found = nullptr) {
    std::string text;
    std::string error;
    const bool ok = qxplatform::ExportRegistryText(key, &text, &error);
    if (found != nullptr) *found = ok;
    return ok ? text : "<" + error + ">";
  }
  // The class's entries: its two ProgIDs and its class id key.
  static std::string ClassExport() {
    return RegistryText("HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex.1") +
           RegistryText("HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex") +
           RegistryText(kClassKey);
  }
  // The InprocServer32 default value, read through the ANSI entry points.
  static std::string ServerPath() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT,
                      "CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}\\"
                      "InprocServer32",
                      0, KEY_READ, &key) != ERROR_SUCCESS)
      return "<missing>";
    char value[1024] = {};
    DWORD size = sizeof(value);
    const LSTATUS status = RegQueryValueExA(
        key, /*lpValueName=*/nullptr, /*lpReserved=*/nullptr,
        /*lpType=*/nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::string(value) : "<unreadable>";
  }
  // The copy of CopyLibraryInto with its type library damaged: the bytes
  // that begin a compiled type library no longer do, and no ".tlb" lies
  // beside it, so the type library of the copy cannot be loaded.
  std::string CopyWithDamagedTypeLibrary() {
    const std::string path = CopyLibraryInto("damaged");
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    size_t damaged = 0;
    for (size_t at = bytes.find("MSFT"); at != std::string::npos;
         at = bytes.find("MSFT", at + 1)) {
      file.seekp(static_cast<std::streamoff>(at));
      file.write("XXXX", 4);
      ++damaged;
    }
    EXPECT_EQ(damaged, 1u) << path;
    return path;
  }

  // What a client does first with the class: its ProgID gives its class id,
  // and the class id its class object through InprocServer32.
  static HRESULT ClassReachableByProgId() {
    CLSID clsid = {};
    HRESULT hr = CLSIDFromProgID(u"QxKorvex.InstallKorvex", &clsid);
    if (FAILED(hr)) return hr;
    IClassFactory* factory = nullptr;
    hr =
        CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, /*pvReserved=*/nullptr,
                         IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (factory != nullptr) factory->Release();
    return hr;
  }

  static bool KeyExists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != 0)
      return false;
    RegCloseKey(key);
    return true;
  }

  HMODULE m_library = nullptr;
  ServerFunction m_register = nullptr;
  ServerFunction m_unregister = nullptr;
  std::string m_scratch;
};

TEST_F(RegistrationTest, RegistersTheClassAndItsTypeLibrary) {
  Load();
  ASSERT_EQ(m_register(), S_OK);
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
  std::string expected = ClassEntries(RegText(QX_LIBRARY_PATH));
  std::string actual = ClassExport();
  // Each export starts with the file header; compare the entries alone.
  size_t at = 0;
  while ((at = actual.find(header)) != std::string::npos)
    actual.erase(at, header.size());
  EXPECT_EQ(actual, expected);

  // The type library is registered where the library lies.
  const std::string typeLib = RegistryText(kTypeLibKey);
  EXPECT_NE(typeLib.find("\\1.0]"), std::string::npos) << typeLib;
  EXPECT_NE(typeLib.find(RegText(QX_LIBRARY_PATH)), std::string::npos)
      << typeLib;
}

TEST_F(RegistrationTest, RegisteringTwiceLeavesTheStateOfOnce) {
  Load();
  ASSERT_EQ(m_register(), S_OK);
  const std::string once = RegistryText("HKEY_CLASSES_ROOT");
  ASSERT_EQ(m_register(), S_OK);
  EXPECT_EQ(RegistryText("HKEY_CLASSES_ROOT"), once);
}

TEST_F(RegistrationTest, UnregisteringTakesEverythingButTheClassRoot) {
  Load();
  ASSERT_EQ(m_register(), S_OK);
  EXPECT_EQ(m_unregister(), S_OK);
  EXPECT_TRUE(KeyExists("CLSID"));
  EXPECT_FALSE(KeyExists("QxKorvex.InstallKorvex"));
  EXPECT_FALSE(KeyExists("QxKorvex.InstallKorvex.1"));
  EXPECT_FALSE(KeyExists("CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}"));
  EXPECT_FALSE(KeyExists("TypeLib\\{0322C3C2-E7C6-466F-9A3B-33519C4FC6B4}"));
  EXPECT_FALSE(KeyExists("Interface\\{D561B16B-0E95-460A-819D-EF05D1A29BC1}"));
  const std::string after = RegistryText("HKEY_CLASSES_ROOT");
  EXPECT_EQ(m_unregister(), S_OK);
  EXPECT_EQ(RegistryText("HKEY_CLASSES_ROOT"), after);
}

TEST_F(RegistrationTest, UnregisteringWhatWasNeverRegisteredSucceeds) {
  Load();
  EXPECT_EQ(m_unregister(), S_OK);
  EXPECT_FALSE(KeyExists("CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}"));
}

TEST_F(RegistrationTest, ForeignSubkeyKeepsTheClassKey) {
  Load();
  ASSERT_EQ(m_register(), S_OK);
  HKEY foreign = CreateKey(HKEY_CLASSES_ROOT,
                           "CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}\\"
                           "Implemented Categories");
  RegCloseKey(foreign);
  EXPECT_EQ(m_unregister(), S_OK);
  EXPECT_TRUE(
      KeyExists("CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}\\"
                "Implemented Categories"));
  EXPECT_FALSE(
      KeyExists("CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}\\"
                "InprocServer32"));
  EXPECT_FALSE(KeyExists("QxKorvex.InstallKorvex"));
}

TEST_F(RegistrationTest, FolderWithASingleQuoteIsRegisteredAsItIs) {
  const std::string path = CopyLibraryInto("O'Brien's tools");
  Load(path);
  ASSERT_EQ(m_register(), S_OK);
  EXPECT_EQ(ServerPath(), path);
}

TEST_F(RegistrationTest, FolderWithDoubleByteCharactersIsRegisteredAsItIs) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  // "表示": the file system spells it in UTF-8; in code page 932 the second
  // byte of its first character is a backslash, which separates nothing.
  const std::string utf8Path = CopyLibraryInto("\xE8\xA1\xA8\xE7\xA4\xBA");
  const std::string path = utf8Path.substr(0, utf8Path.find("\xE8")) +
                           "\x95\x5C\x8E\xA6" +
                           utf8Path.substr(utf8Path.find("\xE8") + 6);
  Load(path);
  ASSERT_EQ(m_register(), S_OK);
  EXPECT_EQ(ServerPath(), path);
  EXPECT_EQ(m_unregister(), S_OK);
  EXPECT_FALSE(KeyExists("CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}"));
}

TEST_F(RegistrationTest, OverLongLibraryPathIsRefusedAndWritesNothing) {
  // A folder that makes the library's full name 260 characters or more.
  const std::string path = CopyLibraryInto(std::string(250, 'd'));
  ASSERT_GE(path.size(), static_cast<size_t>(MAX_PATH));
  Load(path);
  const std::string before = RegistryText("HKEY_CLASSES_ROOT");
  EXPECT_EQ(m_register(), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(RegistryText("HKEY_CLASSES_ROOT"), before);
}

// The type library step fails after the class entries were written: they
// are taken back, over an empty registry and over a working registration of
// the library at its build path alike.
TEST_F(RegistrationTest, TypeLibraryFailureTakesBackTheClassEntries) {
  const std::string damaged = CopyWithDamagedTypeLibrary();
  Load(damaged);
  const std::string empty = RegistryText(nullptr);
  EXPECT_EQ(m_register(), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(RegistryText(nullptr), empty);

  HMODULE working = LoadLibraryA(QX_LIBRARY_PATH);
  ASSERT_NE(working, nullptr);
  const auto registerWorking = reinterpret_cast<ServerFunction>(
      reinterpret_cast<void*>(GetProcAddress(working, "DllRegisterServer")));
  ASSERT_EQ(registerWorking(), S_OK);
  FreeLibrary(working);
  const std::string registered = RegistryText(nullptr);
  EXPECT_EQ(m_register(), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(RegistryText(nullptr), registered);
  EXPECT_EQ(ServerPath(), QX_LIBRARY_PATH);
}

// Registering again over a working registration, with each key create of
// the run failing in turn (the class script's, then the type library's):
// every run that fails leaves the registry as it was, and the class is
// still found by its ProgID.
TEST_F(RegistrationTest, FailedRegistrationOverAWorkingOneKeepsIt) {
  ASSERT_EQ(CoInitialize(/*pvReserved=*/nullptr), S_OK);
  Load();
  ASSERT_EQ(m_register(), S_OK);
  const std::string before = RegistryText(nullptr);
  HRESULT hr = E_FAIL;
  long n = 1;
  for (; n < 100 && hr != S_OK; ++n) {
    qxplatform::FailRegCreateAt(n);
    hr = m_register();
    qxplatform::FailRegCreateAt(0);
    if (hr == S_OK) break;
    EXPECT_EQ(RegistryText(nullptr), before) << n;
    EXPECT_EQ(ClassReachableByProgId(), S_OK) << n;
  }
  EXPECT_EQ(hr, S_OK) << "still failing at create " << n;
  // Both the class script and the type library had creates that failed.
  EXPECT_GT(n, 10);
  CoUninitialize();
}

// A conversion on the way to the script resource that fails without giving
// a reason is still a failure: nothing is registered.
TEST_F(RegistrationTest, LoadThatFailsWithoutAReasonFailsTheRegistration) {
  Load();
  const std::string before = RegistryText(nullptr);
  qxplatform::FailMultiByteToWideCharAt(1, ERROR_SUCCESS);
  EXPECT_EQ(m_register(), E_FAIL);
  EXPECT_EQ(RegistryText(nullptr), before);
}
