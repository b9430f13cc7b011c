// Module resources end to end: the built library's own resources through
// FindResourceA, LoadResource, SizeofResource, LockResource and LoadStringA,
// loaded as code and as a data file; then small PE and ELF files built in
// memory, intact and damaged, loaded as data files.
#include <string.h>
#include <unistd.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/resource_files.h"
#include "support/platform_fixture.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;
using resource_files::Bytes;
using resource_files::Number;
using resource_files::Resource;
using resource_files::Text;

constexpr char kLibraryPath[] = QX_LIBRARY_PATH;
constexpr char kScriptPath[] =
    QX_SOURCE_DIR "/installer/resources/qxKorvex.rgs";

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in),
               std::istreambuf_iterator<char>());
}

class ResourcesTest : public PlatformTest {
 protected:
  std::string Write(const Bytes& bytes, const char* name = "module.bin") {
    const std::string path = m_dir + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
  }

  static HMODULE LoadData(const std::string& path) {
    return LoadLibraryExA(path.c_str(), /*hFile=*/nullptr,
                          LOAD_LIBRARY_AS_DATAFILE);
  }

  // The bytes of a resource through the four calls, or "<error n>".
  static std::string Resource(HMODULE module, LPCSTR name, LPCSTR type) {
    SetLastError(0);
    HRSRC found = FindResourceA(module, name, type);
    if (found == nullptr)
      return "<error " + std::to_string(GetLastError()) + ">";
    HGLOBAL loaded = LoadResource(module, found);
    const char* data = static_cast<const char*>(LockResource(loaded));
    if (data == nullptr) return "<not loaded>";
    return std::string(data, SizeofResource(module, found));
  }

  // What FindResourceA says of the first resource of a file built in
  // memory: its bytes or the error.
  std::string ResourceOfFile(const Bytes& file, LPCSTR name, LPCSTR type) {
    HMODULE module = LoadData(Write(file));
    if (module == nullptr) return "<not loaded>";
    std::string result = Resource(module, name, type);
    FreeLibrary(module);
    return result;
  }

  static std::string Error(DWORD error) {
    return "<error " + std::to_string(error) + ">";
  }

  ScratchDirectory m_scratch{"qxresources"};
  const std::string m_dir = m_scratch.path().string();
};

// ---- the built library ------------------------------------------------------

TEST_F(ResourcesTest, RegistryScriptIsTheScriptFileByteForByte) {
  const Bytes script = ReadFile(kScriptPath);
  ASSERT_FALSE(script.empty());
  HMODULE library = LoadLibraryA(kLibraryPath);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(Resource(library, MAKEINTRESOURCEA(101), "REGISTRY"),
            std::string(script.begin(), script.end()));
  FreeLibrary(library);
}

TEST_F(ResourcesTest, DataFileServesTheSameResourcesByAnyNameSpelling) {
  const Bytes script = ReadFile(kScriptPath);
  HMODULE data = LoadData(kLibraryPath);
  ASSERT_NE(data, nullptr);
  const std::string expected(script.begin(), script.end());
  EXPECT_EQ(Resource(data, MAKEINTRESOURCEA(101), "REGISTRY"), expected);
  EXPECT_EQ(Resource(data, "#101", "registry"), expected);
  FreeLibrary(data);
}

TEST_F(ResourcesTest, TypeLibraryIsAnMsftLibrary) {
  HMODULE library = LoadLibraryA(kLibraryPath);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(Resource(library, MAKEINTRESOURCEA(1), "TYPELIB").substr(0, 4),
            "MSFT");
  FreeLibrary(library);
}

TEST_F(ResourcesTest, ModuleNameStringIsCutToTheBuffer) {
  HMODULE library = LoadLibraryA(kLibraryPath);
  ASSERT_NE(library, nullptr);
  char buffer[64];
  EXPECT_EQ(LoadStringA(library, 100, buffer, sizeof(buffer)), 8);
  EXPECT_STREQ(buffer, "qxKorvex");
  EXPECT_EQ(LoadStringA(library, 100, buffer, 9), 8);
  EXPECT_STREQ(buffer, "qxKorvex");
  memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(LoadStringA(library, 100, buffer, 8), 7);
  EXPECT_STREQ(buffer, "qxKorve");
  EXPECT_EQ(LoadStringA(library, 100, buffer, 1), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(LoadStringA(library, 101, buffer, sizeof(buffer)), 0);
  EXPECT_EQ(LoadStringA(library, 4000, buffer, sizeof(buffer)), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  FreeLibrary(library);
}

TEST_F(ResourcesTest, MissingResourcesAreToldApart) {
  HMODULE library = LoadLibraryA(kLibraryPath);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(Resource(library, MAKEINTRESOURCEA(101), "NOSUCHTYPE"),
            Error(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_EQ(Resource(library, MAKEINTRESOURCEA(102), "REGISTRY"),
            Error(ERROR_RESOURCE_NAME_NOT_FOUND));
  FreeLibrary(library);
  // Neither the test program nor the platform library carries resources.
  EXPECT_EQ(Resource(nullptr, MAKEINTRESOURCEA(1), "TYPELIB"),
            Error(ERROR_RESOURCE_DATA_NOT_FOUND));
  EXPECT_EQ(Resource(GetModuleHandleA("kernel32.dll"), MAKEINTRESOURCEA(1),
                     "TYPELIB"),
            Error(ERROR_RESOURCE_DATA_NOT_FOUND));
  int notAModule = 0;
  EXPECT_EQ(Resource(reinterpret_cast<HMODULE>(&notAModule),
                     MAKEINTRESOURCEA(1), "TYPELIB"),
            Error(ERROR_MOD_NOT_FOUND));
}

TEST_F(ResourcesTest, ForgedAndForeignHandlesAreRefused) {
  HMODULE library = LoadLibraryA(kLibraryPath);
  ASSERT_NE(library, nullptr);
  HRSRC found = FindResourceA(library, MAKEINTRESOURCEA(101), "REGISTRY");
  ASSERT_NE(found, nullptr);
  HMODULE other = LoadData(Write(resource_files::ElfFile(
      resource_files::ResFile({{Text(u"X"), Number(1), {1, 2, 3}}}))));
  ASSERT_NE(FindResourceA(other, MAKEINTRESOURCEA(1), "X"), nullptr);

  int forged[8] = {};
  const HRSRC bad[] = {
      reinterpret_cast<HRSRC>(forged),
      reinterpret_cast<HRSRC>(reinterpret_cast<char*>(found) + 1), nullptr};
  for (HRSRC handle : bad) {
    SetLastError(0);
    EXPECT_EQ(LoadResource(library, handle), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SizeofResource(library, handle), 0u);
  }
  // A handle of one module is not one of another's.
  EXPECT_EQ(LoadResource(other, found), nullptr);
  EXPECT_EQ(SizeofResource(other, found), 0u);
  EXPECT_EQ(LockResource(forged), nullptr);
  const char* data =
      static_cast<const char*>(LockResource(LoadResource(library, found)));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(LockResource(const_cast<char*>(data + 1)), nullptr);
  FreeLibrary(other);
  FreeLibrary(library);
}

TEST_F(ResourcesTest, DataStaysValidUntilTheLastFree) {
  HMODULE library = LoadLibraryA(kLibraryPath);
  ASSERT_NE(library, nullptr);
  HMODULE again = LoadData(kLibraryPath);
  ASSERT_EQ(again, library);
  HRSRC found = FindResourceA(library, MAKEINTRESOURCEA(101), "REGISTRY");
  ASSERT_NE(found, nullptr);
  const char* data =
      static_cast<const char*>(LockResource(LoadResource(library, found)));
  ASSERT_NE(data, nullptr);
  const Bytes script = ReadFile(kScriptPath);
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_EQ(std::string(data, SizeofResource(library, found)),
            std::string(script.begin(), script.end()));
  EXPECT_TRUE(FreeLibrary(library));
  EXPECT_EQ(LoadResource(library, found), nullptr);
}

TEST_F(ResourcesTest, ResourcesAreReadOnceWhileTheModuleIsLoaded) {
  const std::string path = Write(resource_files::ElfFile(
      resource_files::ResFile({{Text(u"X"), Number(1), {'o', 'l', 'd'}}})));
  HMODULE module = LoadData(path);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(Resource(module, MAKEINTRESOURCEA(1), "X"), "old");
  ASSERT_EQ(unlink(path.c_str()), 0);
  EXPECT_EQ(Resource(module, MAKEINTRESOURCEA(1), "X"), "old");
  FreeLibrary(module);

  // Once freed, a module loaded from the path again is read again.
  Write(resource_files::ElfFile(
      resource_files::ResFile({{Text(u"X"), Number(1), {'n', 'e', 'w'}}})));
  module = LoadData(path);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(Resource(module, MAKEINTRESOURCEA(1), "X"), "new");
  FreeLibrary(module);
}

// ---- files built in memory
// ----------------------------------------------------

std::vector<Resource> SampleResources() {
  return {
      {Text(u"\u00C4RGER"), Number(7), resource_files::BytesOf("first")},
      {Text(u"\u00C4RGER"), Number(7), resource_files::BytesOf("second"),
       0x407},
      {Text(u"\u00C4RGER"), Text(u"Na\u00EFve"),
       resource_files::BytesOf("named")},
      {Number(6), Number(1),
       resource_files::StringBlock({u"", u"\u65E5\u672C", u"plain"})},
  };
}

TEST_F(ResourcesTest, PeAndElfFilesGiveTheSameResources) {
  const Bytes files[] = {
      resource_files::PeImage(SampleResources()),
      resource_files::ElfFile(resource_files::ResFile(SampleResources()))};
  for (const Bytes& file : files) {
    HMODULE module = LoadData(Write(file));
    ASSERT_NE(module, nullptr);
    // Names in the ANSI code page, matched without regard to case.
    EXPECT_EQ(Resource(module, MAKEINTRESOURCEA(7), "\xE4rger"), "first");
    EXPECT_EQ(Resource(module, "NA\xCFVE", "\xC4Rger"), "named");
    EXPECT_EQ(Resource(module, "NAIVE", "\xC4RGER"),
              Error(ERROR_RESOURCE_NAME_NOT_FOUND));
    char buffer[16];
    EXPECT_EQ(LoadStringA(module, 2, buffer, sizeof(buffer)), 5);
    EXPECT_STREQ(buffer, "plain");
    FreeLibrary(module);
  }
}

TEST_F(ResourcesTest, DoubleByteCharacterIsNeverSplit) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  HMODULE module = LoadData(Write(resource_files::PeImage(SampleResources())));
  ASSERT_NE(module, nullptr);
  char buffer[8];
  EXPECT_EQ(LoadStringA(module, 1, buffer, sizeof(buffer)), 4);
  EXPECT_STREQ(buffer, "\x93\xfa\x96\x7b");
  EXPECT_EQ(LoadStringA(module, 1, buffer, 4), 2);
  EXPECT_STREQ(buffer, "\x93\xfa");
  EXPECT_EQ(LoadStringA(module, 1, buffer, 2), 0);
  EXPECT_STREQ(buffer, "");
  FreeLibrary(module);
}

using Damage = std::function<void(Bytes*)>;

TEST_F(ResourcesTest, DamagedPeImagesAreRefused) {
  resource_files::PeLayout layout;
  const Bytes intact = resource_files::PeImage(SampleResources(), &layout);
  ASSERT_EQ(
      ResourceOfFile(intact, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(6)).size(),
      2u * 16 + 2 * 2 + 2 * 5);
  using resource_files::PutDword;
  using resource_files::PutWord;
  const size_t firstType = layout.typeEntries[0];
  const size_t data = layout.dataEntries[0];
  const std::vector<std::pair<const char*, Damage>> damages = {
      {"type directory is the root",
       [&](Bytes* f) { PutDword(f, firstType + 4, 0x80000000); }},
      {"two types share a name directory",
       [&](Bytes* f) {
         PutDword(f, layout.typeEntries[1] + 4,
                  resource_files::ReadDwordAt(*f, firstType + 4));
       }},
      {"type entry leads to data",
       [&](Bytes* f) { PutDword(f, firstType + 4, 0x10); }},
      {"directory past the section",
       [&](Bytes* f) { PutDword(f, firstType + 4, 0x8000FFF0); }},
      {"more entries than the section holds",
       [&](Bytes* f) { PutWord(f, layout.root + 12, 0xFFFF); }},
      {"type name past the section",
       [&](Bytes* f) { PutDword(f, firstType, 0xFFFFFFF0); }},
      {"data before the section", [&](Bytes* f) { PutDword(f, data, 0x100); }},
      {"data past the section",
       [&](Bytes* f) { PutDword(f, data + 4, 0x7FFFFFFF); }},
      {"section data past the file",
       [&](Bytes* f) { PutDword(f, layout.sectionHeader + 20, 0x7FFFFF00); }},
      {"directory in no section",
       [&](Bytes* f) { PutDword(f, layout.resourceDirectory, 0x90000); }},
      {"headers past the file",
       [&](Bytes* f) { PutDword(f, 0x3C, 0xFFFFFFF0); }},
  };
  for (const auto& damage : damages) {
    Bytes file = intact;
    damage.second(&file);
    EXPECT_EQ(ResourceOfFile(file, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(6)),
              Error(ERROR_BAD_EXE_FORMAT))
        << damage.first;
  }
}

TEST_F(ResourcesTest, DamagedResourceFilesAreRefused) {
  std::vector<size_t> records;
  const Bytes res = resource_files::ResFile(SampleResources(), &records);
  resource_files::ElfLayout layout;
  const Bytes intact = resource_files::ElfFile(res, &layout);
  ASSERT_EQ(ResourceOfFile(intact, MAKEINTRESOURCEA(7), "\xC4RGER"), "first");
  using resource_files::PutDword;
  using resource_files::PutQword;
  using resource_files::PutWord;
  const size_t first = layout.rsrc + records[0];
  const std::vector<std::pair<const char*, Damage>> damages = {
      {"header that does not move on",
       [&](Bytes* f) { PutDword(f, first + 4, 0); }},
      {"header past the section",
       [&](Bytes* f) { PutDword(f, first + 4, 0x10000); }},
      {"data past the section",
       [&](Bytes* f) { PutDword(f, first, 0xFFFFFFF0); }},
      {"name without its terminator in the header",
       [&](Bytes* f) {
         for (size_t at = first + 8; at < first + 32; at += 2)
           PutWord(f, at, 'A');
       }},
      {"no empty first record", [&](Bytes* f) { PutDword(f, layout.rsrc, 4); }},
      {"section past the file",
       [&](Bytes* f) { PutQword(f, layout.rsrcHeader + 0x18, 0x7FFFFFFF); }},
      {"section table past the file",
       [&](Bytes* f) { PutQword(f, 0x28, 0xFFFFFFFFFFFFFF00); }},
      {"more sections than the file holds",
       [&](Bytes* f) { PutWord(f, 0x3C, 0xFF00); }},
      {"name table index out of range", [&](Bytes* f) { PutWord(f, 0x3E, 9); }},
  };
  for (const auto& damage : damages) {
    Bytes file = intact;
    damage.second(&file);
    EXPECT_EQ(ResourceOfFile(file, MAKEINTRESOURCEA(7), "\xC4RGER"),
              Error(ERROR_BAD_EXE_FORMAT))
        << damage.first;
  }
}

TEST_F(ResourcesTest, EveryTruncationIsRefused) {
  const Bytes files[] = {
      resource_files::PeImage(SampleResources()),
      resource_files::ElfFile(resource_files::ResFile(SampleResources()))};
  for (const Bytes& file : files) {
    for (size_t length = 0; length < file.size(); ++length) {
      EXPECT_EQ(ResourceOfFile(Bytes(file.begin(), file.begin() + length),
                               MAKEINTRESOURCEA(7), "\xC4RGER"),
                Error(ERROR_BAD_EXE_FORMAT))
          << "cut at " << length << " of " << file.size();
    }
  }
}

}  // namespace
