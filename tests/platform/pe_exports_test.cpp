// The tables that bind a Windows image's imports to the platform: each
// library found by the names imports use, each export by name or ordinal,
// every stdcall function popping the bytes the system library's own export
// pops (as mingw's import libraries record it in the decorated name), the C
// runtime's functions undecorated, every Win32 function the platform
// declares listed once, and every import of the real DLL bound.
#include <gtest/gtest.h>
#include <oleauto.h>
#include <stdint.h>
#include <string.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pe_exports.h"

namespace {

using qxplatform::internal::AllSystemLibraries;
using qxplatform::internal::ExportKind;
using qxplatform::internal::FindSystemExport;
using qxplatform::internal::FindSystemLibrary;
using qxplatform::internal::SystemExport;
using qxplatform::internal::SystemExportTable;

constexpr char kMingwLibraries[] = "/usr/i686-w64-mingw32/lib";

// kernel32 exports these on 32-bit Windows, but mingw's headers make them
// compiler intrinsics, so its import library holds no import for them:
// their sizes are those of the documented prototypes.
const std::map<std::string, WORD> kIntrinsicsInMingw = {
    {"InterlockedIncrement", 4},
    {"InterlockedDecrement", 4},
    {"InterlockedExchange", 8},
    {"InterlockedCompareExchange", 12},
};

// Declared by the platform but exported by no 32-bit system library: the
// SDK makes them the 32-bit interlocked functions.
const std::set<std::string> kNotExported = {
    "InterlockedCompareExchangePointer",
    "InterlockedExchangePointer",
};

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in),
                std::istreambuf_iterator<char>());
  return true;
}

uint64_t BigEndian(const std::string& bytes, size_t at, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i)
    value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// The symbol names in an ar archive's index (its first member, "/" or
// "/SYM64/"), as the linker sees them.
bool ArchiveSymbols(const std::string& path, std::set<std::string>* symbols,
                    std::string* error) {
  std::string bytes;
  if (!ReadFile(path, &bytes)) {
    *error = "cannot read " + path;
    return false;
  }
  constexpr size_t kMagic = 8, kHeader = 60;
  if (bytes.compare(0, kMagic, "!<arch>\n") != 0 ||
      bytes.size() < kMagic + kHeader) {
    *error = path + " is not an ar archive";
    return false;
  }
  std::string name = bytes.substr(kMagic, 16);
  size_t width;
  if (name.compare(0, 2, "/ ") == 0) {
    width = 4;
  } else if (name.compare(0, 7, "/SYM64/") == 0) {
    width = 8;
  } else {
    *error = path + " has no symbol index";
    return false;
  }
  size_t size = std::stoul(bytes.substr(kMagic + 48, 10));
  size_t start = kMagic + kHeader;
  if (size > bytes.size() - start || size < width) {
    *error = path + ": symbol index runs past the file";
    return false;
  }
  std::string index = bytes.substr(start, size);
  uint64_t count = BigEndian(index, 0, width);
  if (count > (index.size() - width) / width) {
    *error = path + ": bad symbol count";
    return false;
  }
  size_t at = width + count * width;
  for (uint64_t i = 0; i < count; ++i) {
    size_t end = index.find('\0', at);
    if (end == std::string::npos) {
      *error = path + ": symbol names run past the index";
      return false;
    }
    symbols->insert(index.substr(at, end - at));
    at = end + 1;
  }
  return true;
}

// The symbols of mingw-w64's import library for a table's system library.
bool ImportLibrarySymbols(const SystemExportTable& table,
                          std::set<std::string>* symbols, std::string* error) {
  return ArchiveSymbols(
      std::string(kMingwLibraries) + "/lib" + table.library + ".a", symbols,
      error);
}

// The decorated sizes of name in an import library: N of each "_name@N".
std::set<WORD> DecoratedSizes(const std::set<std::string>& symbols,
                              const std::string& name) {
  std::set<WORD> sizes;
  std::string prefix = "_" + name + "@";
  for (auto it = symbols.lower_bound(prefix);
       it != symbols.end() && it->compare(0, prefix.size(), prefix) == 0;
       ++it) {
    std::string digits = it->substr(prefix.size());
    if (!digits.empty() &&
        digits.find_first_not_of("0123456789") == std::string::npos) {
      sizes.insert(static_cast<WORD>(std::stoul(digits)));
    }
  }
  return sizes;
}

std::string KindName(ExportKind kind) {
  switch (kind) {
    case ExportKind::kStdcall:
      return "stdcall";
    case ExportKind::kCdecl:
      return "cdecl";
    case ExportKind::kData:
      return "data";
  }
  return "?";
}

// ---- PE import directory ----------------------------------------------------
struct Import {
  std::string library;
  std::string name;  // empty when by ordinal
  WORD ordinal = 0;
};

class PeReader {
 public:
  explicit PeReader(std::string bytes) : m_bytes(std::move(bytes)) {}

  bool ReadImports(std::vector<Import>* imports, std::string* error) {
    uint32_t peOffset;
    if (!U32(0x3C, &peOffset) || m_bytes.compare(0, 2, "MZ") != 0 ||
        peOffset > m_bytes.size() - 4 ||
        m_bytes.compare(peOffset, 4, std::string("PE\0\0", 4)) != 0) {
      *error = "not a PE image";
      return false;
    }
    uint32_t coff = peOffset + 4;
    uint16_t sectionCount, optionalSize, magic;
    if (!U16(coff + 2, &sectionCount) || !U16(coff + 16, &optionalSize) ||
        !U16(coff + 20, &magic) || magic != 0x10B) {
      *error = "not a PE32 image";
      return false;
    }
    uint32_t optional = coff + 20;
    uint32_t importRva;
    if (optionalSize < 96 + 2 * 8 || !U32(optional + 96 + 8, &importRva)) {
      *error = "no import directory";
      return false;
    }
    uint32_t sections = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
      uint32_t at = sections + i * 40u;
      Section section;
      if (!U32(at + 8, &section.size) || !U32(at + 12, &section.rva) ||
          !U32(at + 16, &section.rawSize) ||
          !U32(at + 20, &section.rawOffset)) {
        *error = "section table runs past the file";
        return false;
      }
      m_sections.push_back(section);
    }
    for (uint32_t descriptor = importRva;; descriptor += 20) {
      uint32_t lookupRva, nameRva, thunkRva;
      if (!RvaU32(descriptor, &lookupRva) ||
          !RvaU32(descriptor + 12, &nameRva) ||
          !RvaU32(descriptor + 16, &thunkRva)) {
        *error = "import descriptors run past the file";
        return false;
      }
      if (lookupRva == 0 && nameRva == 0 && thunkRva == 0) break;
      std::string library;
      if (!RvaString(nameRva, &library)) {
        *error = "bad library name";
        return false;
      }
      uint32_t thunk = lookupRva != 0 ? lookupRva : thunkRva;
      for (;; thunk += 4) {
        uint32_t entry;
        if (!RvaU32(thunk, &entry)) {
          *error = "import lookup table runs past the file";
          return false;
        }
        if (entry == 0) break;
        Import import;
        import.library = library;
        if (entry & 0x80000000u) {
          import.ordinal = static_cast<WORD>(entry & 0xFFFF);
        } else if (!RvaString(entry + 2, &import.name)) {
          *error = "bad import name in " + library;
          return false;
        }
        imports->push_back(import);
      }
    }
    return true;
  }

 private:
  struct Section {
    uint32_t rva = 0, size = 0, rawOffset = 0, rawSize = 0;
  };

  bool U16(uint64_t at, uint16_t* value) const {
    if (at + 2 > m_bytes.size()) return false;
    *value = static_cast<uint16_t>(static_cast<uint8_t>(m_bytes[at]) |
                                   static_cast<uint8_t>(m_bytes[at + 1]) << 8);
    return true;
  }
  bool U32(uint64_t at, uint32_t* value) const {
    if (at + 4 > m_bytes.size()) return false;
    *value = 0;
    for (int i = 3; i >= 0; --i)
      *value = (*value << 8) | static_cast<uint8_t>(m_bytes[at + i]);
    return true;
  }
  bool Offset(uint32_t rva, uint64_t* offset) const {
    for (const Section& section : m_sections) {
      if (rva >= section.rva && rva - section.rva < section.rawSize) {
        *offset = uint64_t{section.rawOffset} + (rva - section.rva);
        return true;
      }
    }
    return false;
  }
  bool RvaU32(uint32_t rva, uint32_t* value) const {
    uint64_t offset;
    return Offset(rva, &offset) && U32(offset, value);
  }
  bool RvaString(uint32_t rva, std::string* text) const {
    uint64_t offset;
    if (!Offset(rva, &offset) || offset >= m_bytes.size()) return false;
    size_t end = m_bytes.find('\0', offset);
    if (end == std::string::npos) return false;
    *text = m_bytes.substr(offset, end - offset);
    return true;
  }

  std::string m_bytes;
  std::vector<Section> m_sections;
};

// The Win32 functions platform/include declares.
std::set<std::string> DeclaredFunctions() {
  static const char* const kHeaders[] = {
      "combaseapi.h", "objbase.h", "oleauto.h", "shellapi.h", "winbase.h",
      "wincrypt.h",   "winnls.h",  "winreg.h",  "winuser.h",  "oaidl.h",
      "unknwn.h",     "objsafe.h", "windef.h",  "wtypes.h",   "guiddef.h"};
  std::string text;
  for (const char* header : kHeaders) {
    std::string bytes;
    EXPECT_TRUE(ReadFile(
        std::string(QX_SOURCE_DIR) + "/platform/include/" + header, &bytes))
        << header;
    text += bytes;
  }
  std::set<std::string> names;
  static const std::regex kDeclaration(
      R"(QXPLATFORM_API[^;{]*?\bWINAPIV?\s+(\w+)\s*\()");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kDeclaration);
       it != std::sregex_iterator(); ++it) {
    names.insert((*it)[1].str());
  }
  return names;
}

const SystemExportTable& Library(const char* name) {
  const SystemExportTable* table = FindSystemLibrary(name);
  EXPECT_NE(table, nullptr) << name;
  static const SystemExportTable kEmpty = {"", nullptr, 0};
  return table != nullptr ? *table : kEmpty;
}

TEST(SystemExportTables, LibrariesAreFoundAsImportsNameThem) {
  for (const char* name :
       {"KERNEL32.dll", "kernel32", "Kernel32.DLL", "kernel32.dll"}) {
    const SystemExportTable* table = FindSystemLibrary(name);
    ASSERT_NE(table, nullptr) << name;
    EXPECT_STREQ(table->library, "kernel32");
  }
  const struct {
    const char* import;
    const char* library;
  } kNames[] = {{"ADVAPI32.dll", "advapi32"}, {"ole32.dll", "ole32"},
                {"OLEAUT32.dll", "oleaut32"}, {"SHELL32.dll", "shell32"},
                {"USER32.dll", "user32"},     {"msvcrt.dll", "msvcrt"},
                {"MSVCRT", "msvcrt"}};
  for (const auto& name : kNames) {
    const SystemExportTable* table = FindSystemLibrary(name.import);
    ASSERT_NE(table, nullptr) << name.import;
    EXPECT_STREQ(table->library, name.library);
  }
  for (const char* name : {"gdi32.dll", "", ".dll", "kernel32.dl",
                           "kernel32.dll.dll", "kernel32.exe", "kernel",
                           "ucrtbase.dll", "msvcr100.dll", "kernel32 "}) {
    EXPECT_EQ(FindSystemLibrary(name), nullptr) << '"' << name << '"';
  }
}

TEST(SystemExportTables, ExportsAreFoundByExactNameOrByOrdinal) {
  const SystemExportTable& kernel32 = Library("kernel32");
  const SystemExport* entry = FindSystemExport(kernel32, "GetLastError", 0);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->address, reinterpret_cast<const void*>(&GetLastError));
  EXPECT_EQ(FindSystemExport(kernel32, "getlasterror", 0), nullptr);
  EXPECT_EQ(FindSystemExport(kernel32, "GetLastErro", 0), nullptr);
  EXPECT_EQ(FindSystemExport(kernel32, "SysAllocString", 0), nullptr);
  // A name wins over an ordinal given with it.
  EXPECT_EQ(FindSystemExport(kernel32, "GetLastError", 2), entry);

  const SystemExportTable& oleaut32 = Library("oleaut32");
  const SystemExport* byOrdinal = FindSystemExport(oleaut32, nullptr, 2);
  ASSERT_NE(byOrdinal, nullptr);
  EXPECT_STREQ(byOrdinal->name, "SysAllocString");
  EXPECT_EQ(byOrdinal->address, reinterpret_cast<const void*>(&SysAllocString));
  const SystemExport* byName = FindSystemExport(oleaut32, "VarUI4FromStr", 0);
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(byName->ordinal, 277);
  EXPECT_EQ(FindSystemExport(oleaut32, nullptr, 0), nullptr);
  EXPECT_EQ(FindSystemExport(oleaut32, nullptr, 1), nullptr);
  EXPECT_EQ(FindSystemExport(oleaut32, nullptr, 0xFFFF), nullptr);
  // kernel32's ordinals differ between versions of Windows: none is known.
  EXPECT_EQ(FindSystemExport(kernel32, nullptr, 1), nullptr);
}

TEST(SystemExportTables, EntriesAreBoundAndListedOnce) {
  std::set<std::string> libraries;
  std::map<std::string, std::string> owner;  // export -> library
  std::map<const void*, std::string> addresses;
  for (const SystemExportTable* table : AllSystemLibraries()) {
    EXPECT_TRUE(libraries.insert(table->library).second) << table->library;
    EXPECT_GT(table->count, 0u) << table->library;
    std::set<WORD> ordinals;
    for (size_t i = 0; i < table->count; ++i) {
      const SystemExport& entry = table->entries[i];
      ASSERT_NE(entry.name, nullptr);
      EXPECT_NE(entry.address, nullptr) << entry.name;
      auto listed = owner.emplace(entry.name, table->library);
      EXPECT_TRUE(listed.second)
          << entry.name << " is listed by " << listed.first->second << " and "
          << table->library;
      auto bound = addresses.emplace(entry.address, entry.name);
      EXPECT_TRUE(bound.second) << entry.name << " and " << bound.first->second
                                << " are bound to one address";
      if (entry.ordinal != 0) {
        EXPECT_TRUE(ordinals.insert(entry.ordinal).second)
            << table->library << " ordinal " << entry.ordinal;
      }
      EXPECT_EQ(FindSystemExport(*table, entry.name, 0), &entry);
      if (entry.kind != ExportKind::kStdcall) {
        EXPECT_EQ(entry.argumentBytes, 0) << entry.name;
      }
    }
  }
  EXPECT_EQ(libraries,
            (std::set<std::string>{"kernel32", "advapi32", "ole32", "oleaut32",
                                   "shell32", "user32", "msvcrt"}));
}

TEST(SystemExportTables, EveryDeclaredWin32FunctionIsListed) {
  std::set<std::string> declared = DeclaredFunctions();
  ASSERT_GT(declared.size(), 50u) << "the declarations were not found";
  std::set<std::string> listed;
  for (const SystemExportTable* table : AllSystemLibraries()) {
    if (strcmp(table->library, "msvcrt") == 0) continue;
    for (size_t i = 0; i < table->count; ++i)
      listed.insert(table->entries[i].name);
  }
  for (const std::string& name : declared) {
    if (kNotExported.count(name) != 0) {
      EXPECT_EQ(listed.count(name), 0u) << name;
      continue;
    }
    EXPECT_EQ(listed.count(name), 1u)
        << name << " is declared in platform/include but no table lists it";
  }
  for (const std::string& name : listed) {
    EXPECT_EQ(declared.count(name), 1u)
        << name << " is listed but platform/include does not declare it";
  }
}

// Each entry is an export of the same name of its system library: in
// mingw's import library as "_Name@N" (stdcall) or "_Name" (cdecl), or with
// "__imp__Name" alone (data). This holds in both builds.
TEST(SystemExportTables, EntriesNameExportsOfTheirSystemLibrary) {
  for (const SystemExportTable* table : AllSystemLibraries()) {
    std::set<std::string> symbols;
    std::string error;
    if (!ImportLibrarySymbols(*table, &symbols, &error)) {
      GTEST_SKIP() << "mingw-w64's import libraries are not installed: "
                   << error;
    }
    bool runtime = strcmp(table->library, "msvcrt") == 0;
    for (size_t i = 0; i < table->count; ++i) {
      const SystemExport& entry = table->entries[i];
      std::string name = entry.name;
      if (!runtime && kIntrinsicsInMingw.count(name) != 0) continue;
      bool decorated = !DecoratedSizes(symbols, name).empty();
      bool plain = symbols.count("_" + name) != 0;
      bool data = symbols.count("__imp__" + name) != 0;
      EXPECT_TRUE(runtime ? plain || data : decorated)
          << table->library << " has no export " << name;
    }
  }
}

// On 32-bit x86 the convention and the bytes popped are those of the system
// library's export, as mingw decorates its import.
TEST(SystemExportTables, ConventionsAndArgumentBytesMatchTheSystemLibraries) {
  if (sizeof(void*) != 4) {
    GTEST_SKIP() << "conventions and argument sizes are those of 32-bit x86";
  }
  for (const SystemExportTable* table : AllSystemLibraries()) {
    std::set<std::string> symbols;
    std::string error;
    if (!ImportLibrarySymbols(*table, &symbols, &error)) {
      GTEST_SKIP() << "mingw-w64's import libraries are not installed: "
                   << error;
    }
    for (size_t i = 0; i < table->count; ++i) {
      const SystemExport& entry = table->entries[i];
      std::string name = entry.name;
      std::string where = std::string(table->library) + "!" + name;
      auto intrinsic = kIntrinsicsInMingw.find(name);
      if (intrinsic != kIntrinsicsInMingw.end()) {
        EXPECT_EQ(KindName(entry.kind), "stdcall") << where;
        EXPECT_EQ(entry.argumentBytes, intrinsic->second) << where;
        continue;
      }
      std::set<WORD> sizes = DecoratedSizes(symbols, name);
      bool plain = symbols.count("_" + name) != 0;
      bool data = symbols.count("__imp__" + name) != 0;
      if (!sizes.empty()) {
        EXPECT_EQ(KindName(entry.kind), "stdcall")
            << where << " is stdcall in the system library";
        EXPECT_EQ(sizes.size(), 1u) << where;
        EXPECT_EQ(entry.argumentBytes, *sizes.begin())
            << where << " pops " << *sizes.begin()
            << " bytes in the system library";
      } else if (plain) {
        EXPECT_EQ(KindName(entry.kind), "cdecl")
            << where << " is cdecl in the system library";
      } else if (data) {
        EXPECT_EQ(KindName(entry.kind), "data") << where;
      } else {
        ADD_FAILURE() << where << " is not in lib" << table->library << ".a";
      }
    }
  }
}

// Every import of the real DLL finds a platform function or object.
TEST(SystemExportTables, EveryImportOfTheWindowsDllIsBound) {
#ifndef QX_WIN32_DLL
  GTEST_SKIP() << "the win32 build's DLL was not there when this was built";
#else
  std::string bytes;
  ASSERT_TRUE(ReadFile(QX_WIN32_DLL, &bytes)) << QX_WIN32_DLL;
  std::vector<Import> imports;
  std::string error;
  ASSERT_TRUE(PeReader(bytes).ReadImports(&imports, &error)) << error;
  ASSERT_GT(imports.size(), 50u);
  std::vector<std::string> unbound;
  for (const Import& import : imports) {
    const SystemExportTable* table = FindSystemLibrary(import.library);
    const SystemExport* entry =
        table == nullptr
            ? nullptr
            : FindSystemExport(
                  *table, import.name.empty() ? nullptr : import.name.c_str(),
                  import.ordinal);
    if (entry == nullptr) {
      unbound.push_back(import.library + "!" +
                        (import.name.empty()
                             ? "#" + std::to_string(import.ordinal)
                             : import.name));
    }
  }
  std::ostringstream list;
  for (const std::string& name : unbound) list << ' ' << name;
  EXPECT_TRUE(unbound.empty()) << "unbound imports:" << list.str();
#endif
}

}  // namespace
