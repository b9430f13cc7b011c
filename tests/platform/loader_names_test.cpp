// How the loader reaches a library from an ANSI name when the path is not
// ASCII: by the name's text in UTF-8, else by the name's bytes as they are
// (a folder named on another system, in Latin-1 or Shift-JIS bytes); and
// GetModuleFileNameA gives back a name that loads the same file again.
#include <dlfcn.h>
#include <qxplatform/controls.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "support/platform_fixture.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

constexpr char kProbePath[] = QX_LOADER_PROBE_PATH;

class LoaderNamesTest : public PlatformTest {
 protected:
  // A copy of the probe library in a folder whose name is these bytes.
  std::string ProbeIn(const std::string& folder) {
    fs::path directory = m_scratch.path() / folder;
    fs::create_directory(directory);
    fs::path copy = directory / fs::path(kProbePath).filename();
    fs::copy_file(kProbePath, copy);
    return copy.string();
  }
  // The path the folder's copy has when the folder is named by text.
  std::string PathIn(const std::string& folder) {
    return (m_scratch.path() / folder / fs::path(kProbePath).filename())
        .string();
  }
  static std::string FileName(HMODULE module) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, length);
  }
  // The file the system's dynamic linker mapped for the module.
  static std::string MappedFile(HMODULE module) {
    Dl_info info{};
    void* address =
        reinterpret_cast<void*>(GetProcAddress(module, "ProbeAttachCount"));
    if (address == nullptr || dladdr(address, &info) == 0) return "<none>";
    return info.dli_fname;
  }
  // The name GetModuleFileNameA gives loads the same module again, and
  // GetModuleHandleA finds it by that name.
  static void ExpectNameLoadsItAgain(HMODULE module) {
    const std::string name = FileName(module);
    EXPECT_EQ(GetModuleHandleA(name.c_str()), module) << name;
    HMODULE again = LoadLibraryA(name.c_str());
    EXPECT_EQ(again, module) << name;
    if (again != nullptr) FreeLibrary(again);
  }

  ScratchDirectory m_scratch{"qxloadernames"};
};

TEST_F(LoaderNamesTest, AnsiNameReachesTheFileNamedByItsTextInUtf8) {
  const std::string file = ProbeIn("caf\xC3\xA9");
  HMODULE module = LoadLibraryA(PathIn("caf\xE9").c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(MappedFile(module), file);
  EXPECT_EQ(FileName(module), PathIn("caf\xE9"));
  ExpectNameLoadsItAgain(module);
  FreeLibrary(module);
}

// Latin-1 bytes on disk are not UTF-8, so no text names them in UTF-8: the
// ANSI name's bytes do.
TEST_F(LoaderNamesTest, NameThatIsNotUtf8OnDiskIsReachedByItsBytes) {
  const std::string file = ProbeIn("lat\xE9");
  HMODULE module = LoadLibraryA(file.c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(MappedFile(module), file);
  EXPECT_EQ(FileName(module), file);
  ExpectNameLoadsItAgain(module);
  FreeLibrary(module);

  // As a data file too.
  HMODULE data =
      LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  EXPECT_NE(data, nullptr) << GetLastError();
  if (data != nullptr) FreeLibrary(data);
}

TEST_F(LoaderNamesTest, WhereBothNamesExistTheUtf8OneIsMeant) {
  const std::string utf8 = ProbeIn("caf\xC3\xA9");
  ProbeIn("caf\xE9");
  HMODULE module = LoadLibraryA(PathIn("caf\xE9").c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(MappedFile(module), utf8);
  FreeLibrary(module);
}

// "表示": 95 5C 8E A6 in Shift-JIS, E8 A1 A8 E7 A4 BA in UTF-8.
TEST_F(LoaderNamesTest, ShiftJisNamesUnderCodePage932) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  const std::string text = ProbeIn("\xE8\xA1\xA8\xE7\xA4\xBA");
  const std::string bytes = ProbeIn("\x95\x5C\x8E\xA6-bytes");

  HMODULE byText = LoadLibraryA(PathIn("\x95\x5C\x8E\xA6").c_str());
  ASSERT_NE(byText, nullptr) << GetLastError();
  EXPECT_EQ(MappedFile(byText), text);
  EXPECT_EQ(FileName(byText), PathIn("\x95\x5C\x8E\xA6"));
  ExpectNameLoadsItAgain(byText);

  HMODULE byBytes = LoadLibraryA(bytes.c_str());
  ASSERT_NE(byBytes, nullptr) << GetLastError();
  EXPECT_EQ(MappedFile(byBytes), bytes);
  EXPECT_EQ(FileName(byBytes), bytes);
  ExpectNameLoadsItAgain(byBytes);
  FreeLibrary(byBytes);
  FreeLibrary(byText);
}

// A UTF-8 name with characters code page 1252 lacks has no ANSI text that
// leads to it; its bytes do, where '?' in their place would name nothing.
TEST_F(LoaderNamesTest, NameWithoutAnAnsiFormIsGivenBackAsItsBytes) {
  const std::string file = ProbeIn("\xE8\xA1\xA8");
  HMODULE module = LoadLibraryA(file.c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(FileName(module), file);
  ExpectNameLoadsItAgain(module);
  FreeLibrary(module);
}

// A name without an extension means a ".dll" file; a final dot says the
// name has no extension, so nothing is added; any extension stands.
TEST_F(LoaderNamesTest, NameWithoutExtensionMeansADllFile) {
  const fs::path folder = m_scratch.path() / "plain.d";
  fs::create_directory(folder);
  fs::copy_file(kProbePath, folder / "probe.dll");
  fs::copy_file(kProbePath, folder / "bare");
  const std::string stem = (folder / "probe").string();

  HMODULE module = LoadLibraryA(stem.c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(FileName(module), stem + ".dll");
  EXPECT_EQ(GetModuleHandleA("probe"), module);
  EXPECT_EQ(GetModuleHandleA("PROBE.DLL"), module);
  EXPECT_EQ(GetModuleHandleA(stem.c_str()), module);
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleA("probe."), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  // "bare" means bare.dll, which is not there; "bare." is the file itself.
  const std::string bare = (folder / "bare").string();
  EXPECT_EQ(LoadLibraryA(bare.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  HMODULE bareModule = LoadLibraryA((bare + ".").c_str());
  ASSERT_NE(bareModule, nullptr) << GetLastError();
  EXPECT_EQ(FileName(bareModule), bare);
  EXPECT_EQ(GetModuleHandleA("bare."), bareModule);
  EXPECT_EQ(GetModuleHandleA("bare"), nullptr);
  FreeLibrary(bareModule);
  FreeLibrary(module);
}

}  // namespace
