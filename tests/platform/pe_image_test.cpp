// The image mapper on real images: the product's DLL (when its build ran
// before this one was configured) and a small DLL with what the product's
// lacks, a TLS callback, an import by ordinal and a forwarded export. Where
// an image lands, what its relocations make of its pointers when it has to
// move, what the resolver is asked and where its answers go, its exports,
// and the access its pages end up with.
#include <string.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "pe_file.h"
#include "pe_image.h"

namespace {

using pe_test::Access;
using pe_test::PeFile;
using pe_test::Requests;
using qxplatform::internal::BindPeImports;
using qxplatform::internal::FindPeExport;
using qxplatform::internal::LooksLikePeImage;
using qxplatform::internal::MapPeImage;
using qxplatform::internal::PeExportLookup;
using qxplatform::internal::PeImage;
using qxplatform::internal::PeSection;
using qxplatform::internal::ProtectPeImage;
using qxplatform::internal::UnmapPeImage;

constexpr DWORD kSectionExecute = 0x20000000;

// An image that is unmapped when the test ends.
struct Mapped : PeImage {
  Mapped() = default;
  Mapped(const Mapped&) = delete;
  Mapped& operator=(const Mapped&) = delete;
  ~Mapped() { UnmapPeImage(this); }
};

PeFile RealDll() {
#ifdef QX_WIN32_DLL
  return PeFile{pe_test::ReadBytes(QX_WIN32_DLL)};
#else
  return PeFile{};
#endif
}

PeFile FeaturesDll() {
  return PeFile{pe_test::ReadBytes(pe_test::kFeaturesDll)};
}

#define SKIP_WITHOUT(file)                                             \
  if ((file).bytes.empty())                                            \
  GTEST_SKIP() << "the win32 DLL was not built before this build was " \
                  "configured"

uint32_t Low32(const void* address) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
}

uint32_t DwordAt(const BYTE* at) {
  uint32_t value;
  memcpy(&value, at, 4);
  return value;
}

const PeSection* SectionHolding(const PeImage& image, uint64_t rva) {
  for (const PeSection& section : image.sections)
    if (rva >= section.rva && rva - section.rva < section.extent)
      return &section;
  return nullptr;
}

const PeSection* SectionNamed(const PeImage& image, const char* name) {
  for (const PeSection& section : image.sections)
    if (strcmp(section.name, name) == 0) return &section;
  return nullptr;
}

bool InCode(const PeImage& image, const void* address) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(address);
  const uintptr_t base = reinterpret_cast<uintptr_t>(image.base);
  if (at < base) return false;
  const PeSection* section = SectionHolding(image, at - base);
  return section != nullptr &&
         (section->characteristics & kSectionExecute) != 0;
}

// The import address table as the file's own directory 12 marks it holds
// the resolver's answers in the order asked, each library's run closed by a
// zero.
void ExpectAddressTable(const PeFile& file, const PeImage& image,
                        const Requests& requests) {
  std::vector<uint32_t> expected;
  for (size_t index = 0; index < requests.asked.size(); ++index) {
    expected.push_back(static_cast<uint32_t>(Requests::AddressOf(index)));
    const std::string& key = requests.asked[index];
    const std::string library = key.substr(0, key.find('!'));
    if (index + 1 == requests.asked.size() ||
        requests.asked[index + 1].compare(0, library.size() + 1,
                                          library + "!") != 0)
      expected.push_back(0);
  }
  const uint32_t rva = file.Get32(file.Directory(12));
  const uint32_t size = file.Get32(file.Directory(12) + 4);
  std::vector<uint32_t> actual;
  for (uint32_t at = 0; at + 4 <= size; at += 4)
    actual.push_back(DwordAt(image.base + rva + at));
  EXPECT_EQ(actual, expected);
}

TEST(PeImageTest, RealDllMapsAtItsPreferredBaseAsItsSectionsSay) {
  PeFile file = RealDll();
  SKIP_WITHOUT(file);
  ASSERT_TRUE(pe_test::RangeIsFree(file.PreferredBase(), file.ImageSize()));
  Mapped image;
  std::string failure;
  ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &image, &failure),
            ERROR_SUCCESS)
      << failure;
  EXPECT_EQ(reinterpret_cast<uintptr_t>(image.base), file.PreferredBase());
  EXPECT_FALSE(image.relocated);
  EXPECT_EQ(image.size % static_cast<size_t>(sysconf(_SC_PAGESIZE)), 0u);
  EXPECT_GE(image.size, file.ImageSize());
  EXPECT_EQ(memcmp(image.base, file.bytes.data(), file.HeadersSize()), 0);
  for (size_t index = 0; index < file.SectionCount(); ++index) {
    const size_t header = file.Section(index);
    const uint32_t rva = file.Get32(header + 12);
    const uint32_t virtualSize = file.Get32(header + 8);
    const uint32_t rawSize = file.Get32(header + 16);
    const uint32_t copied = rawSize < virtualSize ? rawSize : virtualSize;
    EXPECT_EQ(
        memcmp(image.base + rva, &file.bytes[file.Get32(header + 20)], copied),
        0)
        << "section " << index + 1;
    for (uint32_t at = copied; at < virtualSize; ++at)
      ASSERT_EQ(image.base[rva + at], 0)
          << "section " << index + 1 << " +" << at;
  }
  EXPECT_TRUE(InCode(image, image.base + image.entryRva));
  EXPECT_TRUE(image.tlsCallbacks.empty());
}

TEST(PeImageTest, RealDllMovedElsewhereHasEveryAbsoluteAddressMovedWithIt) {
  PeFile file = RealDll();
  SKIP_WITHOUT(file);
  Mapped home, moved;
  std::string failure;
  ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &home, &failure),
            ERROR_SUCCESS)
      << failure;
  ASSERT_FALSE(home.relocated);
  // The first mapping holds the preferred base, so the second has to move.
  ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &moved, &failure),
            ERROR_SUCCESS)
      << failure;
  EXPECT_TRUE(moved.relocated);
  EXPECT_NE(moved.base, home.base);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(moved.base) % 0x10000,
            0u);  // as on Windows

  const uint32_t oldBase = home.preferredBase;
  const uint32_t newBase = Low32(moved.base);
  std::vector<bool> rewritten(file.ImageSize());
  size_t fixups = 0;
  const BYTE* blocks = home.base + home.relocations.rva;
  for (uint32_t offset = 0; offset < home.relocations.size;) {
    const uint32_t page = DwordAt(blocks + offset);
    const uint32_t blockSize = DwordAt(blocks + offset + 4);
    ASSERT_GE(blockSize, 8u);
    for (uint32_t at = 8; at < blockSize; at += 2) {
      const uint16_t entry = static_cast<uint16_t>(
          blocks[offset + at] | blocks[offset + at + 1] << 8);
      if (entry >> 12 == 0) continue;
      ASSERT_EQ(entry >> 12, 3);  // HIGHLOW, all the i386 linker makes
      const uint32_t target = page + (entry & 0xFFF);
      const uint32_t before = DwordAt(home.base + target);
      const uint32_t after = DwordAt(moved.base + target);
      EXPECT_LT(before - oldBase, file.ImageSize())
          << "at 0x" << std::hex << target;
      EXPECT_EQ(after, before - oldBase + newBase)
          << "at 0x" << std::hex << target;
      for (uint32_t byte = 0; byte < 4; ++byte) rewritten[target + byte] = true;
      ++fixups;
    }
    offset += blockSize;
  }
  EXPECT_GT(fixups, 100u);
  // The header's ImageBase tells the image where it is; nothing else moved.
  const size_t baseField = file.Optional() + 28;
  EXPECT_EQ(DwordAt(moved.base + baseField), newBase);
  for (uint32_t byte = 0; byte < 4; ++byte) rewritten[baseField + byte] = true;
  for (uint32_t at = 0; at < file.ImageSize(); ++at) {
    if (!rewritten[at] && home.base[at] != moved.base[at]) {
      ADD_FAILURE() << "byte 0x" << std::hex << at << " changed";
      break;
    }
  }
  void* there = nullptr;
  void* here = nullptr;
  ASSERT_EQ(FindPeExport(home, "DllGetClassObject", 0, &there),
            PeExportLookup::kFound);
  ASSERT_EQ(FindPeExport(moved, "DllGetClassObject", 0, &here),
            PeExportLookup::kFound);
  EXPECT_EQ(static_cast<BYTE*>(here) - moved.base,
            static_cast<BYTE*>(there) - home.base);
}

TEST(PeImageTest, RealDllAsksForEachImportOnceAndStoresEachAnswer) {
  PeFile file = RealDll();
  SKIP_WITHOUT(file);
  Mapped image;
  std::string failure;
  ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &image, &failure),
            ERROR_SUCCESS)
      << failure;
  Requests requests;
  ASSERT_EQ(BindPeImports(&image, Requests::Resolve, &requests, &failure),
            ERROR_SUCCESS)
      << failure;
  const std::set<std::string> asked(requests.asked.begin(),
                                    requests.asked.end());
  EXPECT_EQ(asked.size(), requests.asked.size());
  for (const char* expected :
       {"KERNEL32.dll!GetProcAddress", "KERNEL32.dll!LoadLibraryExA",
        "ADVAPI32.dll!CryptAcquireContextA", "msvcrt.dll!free",
        "ole32.dll!CoTaskMemAlloc", "OLEAUT32.dll!RegisterTypeLib",
        "SHELL32.dll!ShellExecuteA", "USER32.dll!CharNextA"})
    EXPECT_EQ(asked.count(expected), 1u) << expected;
  ExpectAddressTable(file, image, requests);
}

TEST(PeImageTest, BindingNamesEveryImportThatCannotBeResolved) {
  PeFile file = RealDll();
  SKIP_WITHOUT(file);
  Mapped image;
  std::string failure;
  ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &image, &failure),
            ERROR_SUCCESS);
  Requests requests;
  requests.refuse = {{"KERNEL32.dll!Sleep", ERROR_PROC_NOT_FOUND},
                     {"SHELL32.dll!*", ERROR_MOD_NOT_FOUND},
                     {"OLEAUT32.dll!RegisterTypeLib", ERROR_PROC_NOT_FOUND}};
  const DWORD status =
      BindPeImports(&image, Requests::Resolve, &requests, &failure);
  // Every import is still asked for, once, and the walk reports them all
  // in table order, each for what it lacks.
  const std::set<std::string> asked(requests.asked.begin(),
                                    requests.asked.end());
  EXPECT_EQ(asked.size(), requests.asked.size());
  EXPECT_EQ(asked.count("USER32.dll!CharNextA"), 1u);
  std::string expected;
  DWORD first = ERROR_SUCCESS;
  for (const std::string& key : requests.asked) {
    DWORD error = ERROR_SUCCESS;
    if (key == "KERNEL32.dll!Sleep" || key == "OLEAUT32.dll!RegisterTypeLib")
      error = ERROR_PROC_NOT_FOUND;
    else if (key.rfind("SHELL32.dll!", 0) == 0)
      error = ERROR_MOD_NOT_FOUND;
    if (error == ERROR_SUCCESS) continue;
    if (first == ERROR_SUCCESS) first = error;
    if (!expected.empty()) expected += "; ";
    expected += key + (error == ERROR_MOD_NOT_FOUND ? " (no such library)"
                                                    : " (no such function)");
  }
  EXPECT_EQ(failure, expected);
  EXPECT_EQ(status, first);
  EXPECT_NE(failure.find("KERNEL32.dll!Sleep (no such function)"),
            std::string::npos);
  EXPECT_NE(failure.find("SHELL32.dll!ShellExecuteA (no such library)"),
            std::string::npos);
  EXPECT_NE(failure.find("OLEAUT32.dll!RegisterTypeLib (no such function)"),
            std::string::npos);
}

// An import whose name, or whose library's name, is empty is missing like
// any other, and the refusal says the name is empty rather than printing a
// name that looks cut short.
TEST(PeImageTest, EmptyImportNamesAreSpelledOutInTheRefusal) {
  PeFile file = FeaturesDll();
  ASSERT_FALSE(file.bytes.empty()) << pe_test::kFeaturesDll;
  // The first import by name, and the descriptor of its library.
  size_t descriptor = file.Offset(file.Get32(file.Directory(1)));
  uint32_t entry = 0;
  for (; file.Get32(descriptor + 12) != 0 && entry == 0; descriptor += 20) {
    for (size_t at = file.Offset(file.Get32(descriptor));
         (entry = file.Get32(at)) != 0 && (entry & 0x80000000) != 0; at += 4) {
    }
    if (entry != 0) break;
  }
  ASSERT_NE(entry, 0u) << "the fixture imports by ordinal only";
  const std::string library(reinterpret_cast<const char*>(
      &file.bytes[file.Offset(file.Get32(descriptor + 12))]));
  file.bytes[file.Offset(entry + 2)] = 0;
  Mapped image;
  std::string failure;
  ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &image, &failure),
            ERROR_SUCCESS);
  Requests requests;
  requests.refuse = {{library + "!", ERROR_PROC_NOT_FOUND}};
  EXPECT_EQ(BindPeImports(&image, Requests::Resolve, &requests, &failure),
            static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(failure,
            library + "!(an empty function name) (no such function)");

  PeFile noLibrary = FeaturesDll();
  noLibrary.bytes[noLibrary.Offset(noLibrary.Get32(descriptor + 12))] = 0;
  Mapped second;
  ASSERT_EQ(MapPeImage(noLibrary.bytes.data(), noLibrary.bytes.size(), &second,
                       &failure),
            ERROR_SUCCESS);
  Requests none;
  none.refuse = {{"!*", ERROR_MOD_NOT_FOUND}};
  EXPECT_EQ(BindPeImports(&second, Requests::Resolve, &none, &failure),
            static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(failure.rfind("(a library with an empty name)!", 0), 0u) << failure;
  EXPECT_NE(failure.find("(no such library)"), std::string::npos) << failure;
}

TEST(PeImageTest, BindingStopsAtAnErrorThatIsNoMissingImport) {
  PeFile file = FeaturesDll();
  ASSERT_FALSE(file.bytes.empty()) << pe_test::kFeaturesDll;
  Mapped image;
  std::string failure;
  ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &image, &failure),
            ERROR_SUCCESS);
  Requests requests;
  requests.refuse = {{"OLEAUT32.dll!#7", ERROR_NOT_ENOUGH_MEMORY},
                     {"KERNEL32.dll!GetTickCount", ERROR_PROC_NOT_FOUND}};
  EXPECT_EQ(BindPeImports(&image, Requests::Resolve, &requests, &failure),
            static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(failure, "OLEAUT32.dll!#7");
  EXPECT_EQ(requests.asked, std::vector<std::string>{"OLEAUT32.dll!#7"});
}

TEST(PeImageTest, RealDllExportsItsFourFunctionsByNameAndByOrdinal) {
  PeFile file = RealDll();
  SKIP_WITHOUT(file);
  Mapped image;
  std::string failure;
  ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &image, &failure),
            ERROR_SUCCESS);
  std::set<void*> byName, byOrdinal;
  for (const char* name : {"DllCanUnloadNow", "DllGetClassObject",
                           "DllRegisterServer", "DllUnregisterServer"}) {
    void* address = nullptr;
    ASSERT_EQ(FindPeExport(image, name, 0, &address), PeExportLookup::kFound)
        << name;
    EXPECT_TRUE(InCode(image, address)) << name;
    byName.insert(address);
  }
  EXPECT_EQ(byName.size(), 4u);
  const size_t exports = file.Offset(file.Get32(file.Directory(0)));
  const WORD first = static_cast<WORD>(file.Get32(exports + 16));
  for (WORD ordinal = first; ordinal < first + 4; ++ordinal) {
    void* address = nullptr;
    ASSERT_EQ(FindPeExport(image, nullptr, ordinal, &address),
              PeExportLookup::kFound)
        << "#" << ordinal;
    byOrdinal.insert(address);
  }
  EXPECT_EQ(byOrdinal, byName);
  void* address = nullptr;
  EXPECT_EQ(
      FindPeExport(image, nullptr, static_cast<WORD>(first - 1), &address),
      PeExportLookup::kNotFound);
  EXPECT_EQ(
      FindPeExport(image, nullptr, static_cast<WORD>(first + 4), &address),
      PeExportLookup::kNotFound);
  for (const char* name : {"DllMain", "dllgetclassobject", "DllGetClassObjectX",
                           "DllGetClassObjec", "", "zzz", "A"})
    EXPECT_EQ(FindPeExport(image, name, 0, &address), PeExportLookup::kNotFound)
        << name;
}

TEST(PeImageTest, TlsCallbacksOrdinalImportsAndForwardersAreReported) {
  PeFile file = FeaturesDll();
  ASSERT_FALSE(file.bytes.empty()) << pe_test::kFeaturesDll;
  Mapped image;
  std::string failure;
  ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &image, &failure),
            ERROR_SUCCESS)
      << failure;
  ASSERT_EQ(image.tlsCallbacks.size(), 1u);
  EXPECT_TRUE(InCode(image, reinterpret_cast<void*>(image.tlsCallbacks[0])));
  Requests requests;
  ASSERT_EQ(BindPeImports(&image, Requests::Resolve, &requests, &failure),
            ERROR_SUCCESS)
      << failure;
  EXPECT_EQ(requests.asked,
            (std::vector<std::string>{"OLEAUT32.dll!#7",
                                      "KERNEL32.dll!GetTickCount"}));
  ExpectAddressTable(file, image, requests);

  void* address = nullptr;
  ASSERT_EQ(FindPeExport(image, "Gamma", 0, &address),
            PeExportLookup::kForwarded);
  EXPECT_STREQ(static_cast<const char*>(address), "KERNEL32.GetTickCount");
  qxplatform::internal::PeForwarder forwarder;
  ASSERT_TRUE(qxplatform::internal::ReadPeForwarder(image, address, &forwarder));
  EXPECT_EQ(forwarder.library, "KERNEL32");
  EXPECT_EQ(forwarder.name, "GetTickCount");
  EXPECT_EQ(forwarder.ordinal, 0);
  // Text that is not inside the export directory is no forwarder.
  EXPECT_FALSE(qxplatform::internal::ReadPeForwarder(image, image.base,
                                                     &forwarder));
  EXPECT_EQ(FindPeExport(image, nullptr, 3, &address),
            PeExportLookup::kForwarded);
  EXPECT_EQ(FindPeExport(image, "Alpha", 0, &address), PeExportLookup::kFound);
  EXPECT_TRUE(InCode(image, address));

  Mapped refused;
  ASSERT_EQ(
      MapPeImage(file.bytes.data(), file.bytes.size(), &refused, &failure),
      ERROR_SUCCESS);
  requests = Requests();
  requests.refuse = {{"OLEAUT32.dll!#7", ERROR_PROC_NOT_FOUND}};
  EXPECT_EQ(BindPeImports(&refused, Requests::Resolve, &requests, &failure),
            static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(failure, "OLEAUT32.dll!#7 (no such function)");
}

TEST(PeImageTest, TlsCallbacksMoveWithTheImage) {
  PeFile file = FeaturesDll();
  ASSERT_FALSE(file.bytes.empty());
  uintptr_t homeOffset = 0;
  {
    Mapped home;
    ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &home, nullptr),
              ERROR_SUCCESS);
    ASSERT_FALSE(home.relocated);
    ASSERT_EQ(home.tlsCallbacks.size(), 1u);
    homeOffset = home.tlsCallbacks[0] - reinterpret_cast<uintptr_t>(home.base);
  }
  pe_test::Occupied taken(file.PreferredBase(), file.ImageSize());
  ASSERT_TRUE(taken.Holds());
  Mapped moved;
  ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &moved, nullptr),
            ERROR_SUCCESS);
  EXPECT_TRUE(moved.relocated);
  ASSERT_EQ(moved.tlsCallbacks.size(), 1u);
  EXPECT_EQ(moved.tlsCallbacks[0] - reinterpret_cast<uintptr_t>(moved.base),
            homeOffset);
}

TEST(PeImageTest, SectionsGetTheAccessTheyAskForAndTheHeadersAreReadOnly) {
  PeFile file = FeaturesDll();
  ASSERT_FALSE(file.bytes.empty());
  Mapped image;
  ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &image, nullptr),
            ERROR_SUCCESS);
  Requests requests;
  ASSERT_EQ(BindPeImports(&image, Requests::Resolve, &requests, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(ProtectPeImage(&image), ERROR_SUCCESS);
  EXPECT_EQ(Access(image.base), "r--");
  const std::pair<const char*, const char*> expected[] = {
      {".text", "r-x"}, {".data", "rw-"},  {".rdata", "r--"},
      {".bss", "rw-"},  {".idata", "rw-"}, {".reloc", "r--"}};
  for (const auto& [name, access] : expected) {
    const PeSection* section = SectionNamed(image, name);
    ASSERT_NE(section, nullptr) << name;
    EXPECT_EQ(Access(image.base + section->rva), access) << name;
    EXPECT_EQ(Access(image.base + section->rva + section->extent - 1), access)
        << name;
  }
}

TEST(PeImageTest, AnImageThatIsNoDllIsMappedWithoutAnEntryPoint) {
  PeFile file = FeaturesDll();
  ASSERT_FALSE(file.bytes.empty());
  file.Set16(file.FileHeader() + 18,
             file.Get16(file.FileHeader() + 18) & ~0x2000u);
  Mapped image;
  std::string failure;
  ASSERT_EQ(MapPeImage(file.bytes.data(), file.bytes.size(), &image, &failure),
            ERROR_SUCCESS)
      << failure;
  EXPECT_EQ(image.entryRva, 0u);
}

TEST(PeImageTest, TellsPeImagesFromOtherFiles) {
  PeFile file = FeaturesDll();
  ASSERT_FALSE(file.bytes.empty());
  EXPECT_TRUE(LooksLikePeImage(file.bytes.data(), file.bytes.size()));
  std::vector<BYTE> self = pe_test::ReadBytes("/proc/self/exe", 4096);
  EXPECT_FALSE(LooksLikePeImage(self.data(), self.size()));  // ELF
  EXPECT_FALSE(LooksLikePeImage(file.bytes.data(), file.Nt() + 2));
  EXPECT_FALSE(LooksLikePeImage(file.bytes.data(), 32));
  file.Set32(0x3C, 0xFFFFFFF0);
  EXPECT_FALSE(LooksLikePeImage(file.bytes.data(), file.bytes.size()));
  EXPECT_FALSE(LooksLikePeImage(nullptr, 0));
}

}  // namespace
