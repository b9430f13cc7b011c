// Damaged images: a good image (the small test DLL, and the product's DLL
// when its build ran) damaged one way per row must be refused with
// ERROR_BAD_EXE_FORMAT, a message about what was damaged, and nothing left
// mapped, whether the damage is found before the image is mapped or after.
#include <string.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pe_file.h"
#include "pe_image.h"

namespace {

using pe_test::PeFile;
using pe_test::Tail;
using qxplatform::internal::MapPeImage;
using qxplatform::internal::PeImage;

struct Damage {
  const char* what;
  std::function<void(PeFile*)> apply;
  const char* message;  // a part of the failure message
  DWORD status = ERROR_BAD_EXE_FORMAT;
  bool displaced = false;  // the preferred base is taken, so the image moves
};

// Offsets of the parts the rows damage.
size_t ImportDescriptor(const PeFile& f) {
  return f.Offset(f.Get32(f.Directory(1)));
}
size_t FirstLookupEntry(const PeFile& f) {
  return f.Offset(f.Get32(ImportDescriptor(f)));
}
size_t RelocationBlock(const PeFile& f) {
  return f.Offset(f.Get32(f.Directory(5)));
}
size_t ExportDirectory(const PeFile& f) {
  return f.Offset(f.Get32(f.Directory(0)));
}

void Fill(PeFile* f, const Tail& tail, const std::vector<uint32_t>& pattern) {
  for (size_t at = 0; at + 4 <= tail.size; at += 4)
    f->Set32(tail.offset + at, pattern[(at / 4) % pattern.size()]);
}

void FillText(PeFile* f, const Tail& tail) {
  memset(&f->bytes[tail.offset], 'A', tail.size);
}

// A directory at the start of the tail.
void PointDirectory(PeFile* f, size_t index, const Tail& tail, uint32_t size) {
  f->Set32(f->Directory(index), tail.rva);
  f->Set32(f->Directory(index) + 4, size);
}

std::vector<Damage> Rows() {
  std::vector<Damage> rows = {
      {"DOS header cut short", [](PeFile* f) { f->bytes.resize(40); },
       "DOS header"},
      {"no MZ", [](PeFile* f) { f->bytes[0] = 'Z'; }, "MZ"},
      {"NT headers cut short", [](PeFile* f) { f->bytes.resize(f->Nt() + 12); },
       "NT headers"},
      {"e_lfanew past the end",
       [](PeFile* f) { f->Set32(0x3C, f->bytes.size() + 8); }, "e_lfanew"},
      {"e_lfanew near 4 GiB", [](PeFile* f) { f->Set32(0x3C, 0xFFFFFFFC); },
       "e_lfanew"},
      {"no PE signature", [](PeFile* f) { f->bytes[f->Nt() + 1] = 'X'; },
       "PE signature"},
      {"machine x64", [](PeFile* f) { f->Set16(f->FileHeader(), 0x8664); },
       "machine"},
      {"not executable",
       [](PeFile* f) {
         f->Set16(f->FileHeader() + 18, f->Get16(f->FileHeader() + 18) & ~2u);
       },
       "executable"},
      {"no sections", [](PeFile* f) { f->Set16(f->FileHeader() + 2, 0); },
       "sections"},
      {"97 sections", [](PeFile* f) { f->Set16(f->FileHeader() + 2, 97); },
       "sections"},
      {"optional header too short",
       [](PeFile* f) { f->Set16(f->FileHeader() + 16, 90); },
       "optional header"},
      {"optional header cut short",
       [](PeFile* f) { f->bytes.resize(f->Optional() + 80); },
       "optional header"},
      {"PE32+ magic", [](PeFile* f) { f->Set16(f->Optional(), 0x20B); },
       "PE32"},
      {"too few directories for their count",
       [](PeFile* f) { f->Set16(f->FileHeader() + 16, 96 + 8 * 4); },
       "data directories"},
      {"SizeOfImage 0", [](PeFile* f) { f->Set32(f->Optional() + 56, 0); },
       "SizeOfImage"},
      {"SizeOfImage 1 GiB",
       [](PeFile* f) { f->Set32(f->Optional() + 56, 1u << 30); },
       "SizeOfImage"},
      {"SizeOfHeaders past SizeOfImage",
       [](PeFile* f) { f->Set32(f->Optional() + 60, f->ImageSize() + 0x200); },
       "SizeOfHeaders"},
      {"SizeOfHeaders past the file",
       [](PeFile* f) { f->bytes.resize(f->HeadersSize() - 0x100); },
       "SizeOfHeaders"},
      {"section table past SizeOfHeaders",
       [](PeFile* f) { f->Set32(f->Optional() + 60, f->Section(1)); },
       "section table"},
      {"SectionAlignment 0", [](PeFile* f) { f->Set32(f->Optional() + 32, 0); },
       "SectionAlignment"},
      {"SectionAlignment not a power of two",
       [](PeFile* f) { f->Set32(f->Optional() + 32, 0x1800); },
       "SectionAlignment"},
      {"FileAlignment above SectionAlignment",
       [](PeFile* f) { f->Set32(f->Optional() + 36, 0x2000); },
       "FileAlignment"},
      {"small alignments that differ",
       [](PeFile* f) { f->Set32(f->Optional() + 32, 0x400); }, "FileAlignment"},
      {"ImageBase not on 64 KiB",
       [](PeFile* f) {
         f->Set32(f->Optional() + 28, f->PreferredBase() + 0x1000);
       },
       "ImageBase"},
      {"image ending past 4 GiB",
       [](PeFile* f) {
         f->Set32(f->Optional() + 28, 0xFFFF0000);
         f->Set32(f->Optional() + 56, 0x20000);
       },
       "4 GiB"},
      {"entry point outside",
       [](PeFile* f) { f->Set32(f->Optional() + 16, f->ImageSize()); },
       "entry point"},
      {"section data past the file",
       [](PeFile* f) { f->Set32(f->Section(2) + 20, f->bytes.size() - 0x100); },
       "outside the file"},
      {"section data wrapping",
       [](PeFile* f) { f->Set32(f->Section(2) + 20, 0xFFFFFE00); },
       "outside the file"},
      {"section past SizeOfImage",
       [](PeFile* f) {
         f->Set32(f->Section(f->SectionCount() - 1) + 8, 0x100000);
       },
       "SizeOfImage"},
      {"section address wrapping",
       [](PeFile* f) {
         f->Set32(f->Section(f->SectionCount() - 1) + 12, 0xFFFFF000);
       },
       "SizeOfImage"},
      {"sections overlapping",
       [](PeFile* f) {
         f->Set32(f->Section(2) + 12, f->Get32(f->Section(1) + 12));
       },
       "overlaps"},
      {"section over the headers",
       [](PeFile* f) { f->Set32(f->Section(0) + 12, 0); },
       "overlaps the headers"},
      {"section misaligned",
       [](PeFile* f) {
         f->Set32(f->Section(1) + 12, f->Get32(f->Section(1) + 12) + 0x10);
       },
       "aligned"},
      {"import directory outside",
       [](PeFile* f) { f->Set32(f->Directory(1), f->ImageSize() - 8); },
       "import directory"},
      {"import directory wrapping",
       [](PeFile* f) { f->Set32(f->Directory(1) + 4, 0xFFFFF000); },
       "import directory"},
      {"export directory outside",
       [](PeFile* f) { f->Set32(f->Directory(0), f->ImageSize()); },
       "export directory"},
      {"export directory too short",
       [](PeFile* f) { f->Set32(f->Directory(0) + 4, 20); },
       "export directory"},
      {"relocation directory outside",
       [](PeFile* f) { f->Set32(f->Directory(5) + 4, f->ImageSize()); },
       "relocation directory"},
      {"TLS directory outside",
       [](PeFile* f) {
         f->Set32(f->Directory(9), f->ImageSize() - 4);
         f->Set32(f->Directory(9) + 4, 24);
       },
       "TLS directory"},
      {"relocation block of size 0",
       [](PeFile* f) { f->Set32(RelocationBlock(*f) + 4, 0); }, "bad size",
       ERROR_BAD_EXE_FORMAT, true},
      {"relocation block of odd size",
       [](PeFile* f) { f->Set32(RelocationBlock(*f) + 4, 11); }, "bad size",
       ERROR_BAD_EXE_FORMAT, true},
      {"relocation block past its directory",
       [](PeFile* f) {
         f->Set32(RelocationBlock(*f) + 4, f->Get32(f->Directory(5) + 4) + 8);
       },
       "bad size", ERROR_BAD_EXE_FORMAT, true},
      {"relocation outside the image",
       [](PeFile* f) { f->Set32(RelocationBlock(*f), f->ImageSize() - 2); },
       "outside the image", ERROR_BAD_EXE_FORMAT, true},
      {"relocation of a 64-bit type",
       [](PeFile* f) { f->Set16(RelocationBlock(*f) + 8, 0xA000); }, "type 10",
       ERROR_BAD_EXE_FORMAT, true},
      {"relocation directory with a stray end",
       [](PeFile* f) {
         f->Set32(f->Directory(5) + 4, f->Get32(f->Directory(5) + 4) + 4);
       },
       "cut short", ERROR_BAD_EXE_FORMAT, true},
      {"relocations stripped, preferred base taken",
       [](PeFile* f) {
         f->Set16(f->FileHeader() + 18, f->Get16(f->FileHeader() + 18) | 1);
       },
       "ImageBase", ERROR_INVALID_ADDRESS, true},
      {"import without an address table",
       [](PeFile* f) { f->Set32(ImportDescriptor(*f) + 16, 0); },
       "no address table"},
      {"import lookup table wrapping",
       [](PeFile* f) { f->Set32(ImportDescriptor(*f), 0xFFFFFFF0); },
       "do not end"},
      {"import address table outside",
       [](PeFile* f) {
         f->Set32(ImportDescriptor(*f) + 16, f->ImageSize() - 2);
       },
       "address table"},
      {"library name outside",
       [](PeFile* f) { f->Set32(ImportDescriptor(*f) + 12, f->ImageSize()); },
       "names a library outside the image"},
      {"function name outside",
       [](PeFile* f) { f->Set32(FirstLookupEntry(*f), f->ImageSize() - 1); },
       "has its name outside the image"},
      {"ordinal with stray bits",
       [](PeFile* f) { f->Set32(FirstLookupEntry(*f), 0x80010007); },
       "bad ordinal"},
      {"export tables outside",
       [](PeFile* f) {
         f->Set32(ExportDirectory(*f) + 28, f->ImageSize() - 4);
       },
       "export tables"},
      {"absurd export name count",
       [](PeFile* f) { f->Set32(ExportDirectory(*f) + 24, 0x40000000); },
       "export tables"},
      // Tables that run into the end of the image.
      {"unterminated import descriptors",
       [](PeFile* f) {
         const uint32_t library = f->Get32(ImportDescriptor(*f) + 12);
         const uint32_t empty = f->HeadersSize() - 4;  // zero padding
         const Tail tail = pe_test::MakeTail(f);
         Fill(f, tail, {empty, 0, 0, library, empty});
         PointDirectory(f, 1, tail, 20);
       },
       "import descriptors do not end"},
      {"unterminated lookup table",
       [](PeFile* f) {
         const uint32_t entry = f->Get32(FirstLookupEntry(*f));
         const Tail tail = pe_test::MakeTail(f);
         Fill(f, tail, {entry});
         f->Set32(ImportDescriptor(*f), tail.rva);
         f->Set32(ImportDescriptor(*f) + 16, tail.rva);
       },
       "do not end"},
      {"unterminated library name",
       [](PeFile* f) {
         const Tail tail = pe_test::MakeTail(f);
         FillText(f, tail);
         f->Set32(ImportDescriptor(*f) + 12, tail.rva);
       },
       "names a library that does not end inside the image"},
      {"unterminated function name",
       [](PeFile* f) {
         const Tail tail = pe_test::MakeTail(f);
         FillText(f, tail);
         f->Set32(FirstLookupEntry(*f), tail.rva);
       },
       "has its name that does not end inside the image"},
      {"unterminated TLS callbacks",
       [](PeFile* f) {
         const uint32_t base = f->PreferredBase();
         const Tail tail = pe_test::MakeTail(f);
         Fill(f, tail, {base + 0x1000});
         f->Set32(tail.offset + 12, base + tail.rva + 24);
         PointDirectory(f, 9, tail, 24);
       },
       "TLS callback list"},
      {"TLS callback outside",
       [](PeFile* f) {
         const uint32_t base = f->PreferredBase();
         const uint32_t outside = base + f->ImageSize() + 0x1000;
         const Tail tail = pe_test::MakeTail(f);
         Fill(f, tail, {0});
         f->Set32(tail.offset + 12, base + tail.rva + 24);
         f->Set32(tail.offset + 24, base + 0x1000);
         f->Set32(tail.offset + 28, outside);
         PointDirectory(f, 9, tail, 24);
       },
       "TLS callback 2"},
      {"TLS index outside",
       [](PeFile* f) {
         const uint32_t base = f->PreferredBase();
         const Tail tail = pe_test::MakeTail(f);
         Fill(f, tail, {0});
         f->Set32(tail.offset + 8, base + f->ImageSize() + 0x1000);
         PointDirectory(f, 9, tail, 24);
       },
       "TLS index"},
      {"TLS data outside",
       [](PeFile* f) {
         const uint32_t base = f->PreferredBase();
         const Tail tail = pe_test::MakeTail(f);
         Fill(f, tail, {0});
         f->Set32(tail.offset + 0, base + 0x1000);
         f->Set32(tail.offset + 4, base + f->ImageSize() + 0x2000);
         f->Set32(tail.offset + 8, base + tail.rva + 20);
         PointDirectory(f, 9, tail, 24);
       },
       "TLS data lies outside"},
      {"TLS data ending before it starts",
       [](PeFile* f) {
         const uint32_t base = f->PreferredBase();
         const Tail tail = pe_test::MakeTail(f);
         Fill(f, tail, {0});
         f->Set32(tail.offset + 0, base + 0x2000);
         f->Set32(tail.offset + 4, base + 0x1000);
         f->Set32(tail.offset + 8, base + tail.rva + 20);
         PointDirectory(f, 9, tail, 24);
       },
       "ends before"},
      {"absurd TLS zero fill",
       [](PeFile* f) {
         const uint32_t base = f->PreferredBase();
         const Tail tail = pe_test::MakeTail(f);
         Fill(f, tail, {0});
         f->Set32(tail.offset + 8, base + tail.rva + 20);
         f->Set32(tail.offset + 16, 0x7FFFFFFF);
         PointDirectory(f, 9, tail, 24);
       },
       "TLS data is larger"},
  };
  return rows;
}

void ExpectRefused(const PeFile& good, const Damage& row) {
  SCOPED_TRACE(row.what);
  PeFile file = good;
  row.apply(&file);
  const uint32_t preferred = good.PreferredBase();
  const size_t size = good.ImageSize();
  ASSERT_TRUE(pe_test::RangeIsFree(preferred, size));
  std::unique_ptr<pe_test::Occupied> taken;
  if (row.displaced) {
    taken.reset(new pe_test::Occupied(preferred, size));
    ASSERT_TRUE(taken->Holds());
  }
  PeImage image;
  std::string failure;
  // Once to let the allocator settle, once counted.
  MapPeImage(file.bytes.data(), file.bytes.size(), &image, &failure);
  const pe_test::AddressSpace before = pe_test::Mapped();
  const DWORD status =
      MapPeImage(file.bytes.data(), file.bytes.size(), &image, &failure);
  const pe_test::AddressSpace after = pe_test::Mapped();
  EXPECT_EQ(after.mappings, before.mappings);
  EXPECT_EQ(after.bytes, before.bytes);
  EXPECT_EQ(status, row.status) << failure;
  EXPECT_NE(failure.find(row.message), std::string::npos) << failure;
  EXPECT_EQ(image.base, nullptr);
  qxplatform::internal::UnmapPeImage(&image);  // should the row map after all
  if (!row.displaced) {
    EXPECT_TRUE(pe_test::RangeIsFree(preferred, size));
  }
}

void ExpectEveryDamageRefused(const PeFile& good) {
  // Undamaged, the image maps, and the address space shows it.
  PeImage image;
  std::string failure;
  const pe_test::AddressSpace before = pe_test::Mapped();
  ASSERT_EQ(MapPeImage(good.bytes.data(), good.bytes.size(), &image, &failure),
            ERROR_SUCCESS)
      << failure;
  EXPECT_GE(pe_test::Mapped().bytes, before.bytes + good.ImageSize());
  qxplatform::internal::UnmapPeImage(&image);
  for (const Damage& row : Rows()) ExpectRefused(good, row);
}

TEST(PeImageHostileTest, DamagedTestImageIsRefusedAndNothingStaysMapped) {
  PeFile good{pe_test::ReadBytes(pe_test::kFeaturesDll)};
  ASSERT_FALSE(good.bytes.empty());
  ExpectEveryDamageRefused(good);
}

TEST(PeImageHostileTest, DamagedRealDllIsRefusedAndNothingStaysMapped) {
#ifndef QX_WIN32_DLL
  GTEST_SKIP()
      << "the win32 DLL was not built before this build was configured";
#else
  PeFile good{pe_test::ReadBytes(QX_WIN32_DLL)};
  ASSERT_FALSE(good.bytes.empty());
  ExpectEveryDamageRefused(good);
#endif
}

}  // namespace
