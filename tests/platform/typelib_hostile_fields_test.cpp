// Every length and offset the type-library reader trusts, damaged in turn
// to each of its boundaries: none, exactly what is left, one past it, and
// the two largest words. Each field is found by walking the feature
// library as the format lays it out, not by a hand-counted offset, so a
// new layout moves the damage with it. A value the format allows loads
// (and reads back whole where it is a length); any other is refused with
// TYPE_E_INVDATAREAD; none of them may read outside the file.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "typelib_support.h"

namespace {

using namespace typelib_test;

constexpr uint32_t kNoneWord = 0xFFFFFFFF;
constexpr int kSegmentCount = 15;
enum Segment : int {
  kTypeInfos = 0,
  kImportInfo = 1,
  kImportFiles = 2,
  kGuidTable = 5,
  kNameTable = 7,
  kStringTable = 8,
  kTypeDescs = 9,
  kArrayDescs = 10,
  kCustomData = 11,
  kCustomDirectory = 12,
};

// The feature library's bytes and where its parts are, read the way the
// format describes them.
class Layout {
 public:
  explicit Layout(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}

  const std::vector<uint8_t>& bytes() const { return m_bytes; }
  int64_t size() const { return static_cast<int64_t>(m_bytes.size()); }
  bool Has(int64_t at, int64_t length) const {
    return at >= 0 && length >= 0 && at + length <= size();
  }
  uint32_t Word(int64_t at) const {
    uint32_t value = 0;
    if (Has(at, 4)) memcpy(&value, &m_bytes[at], 4);
    return value;
  }
  uint16_t Half(int64_t at) const {
    uint16_t value = 0;
    if (Has(at, 2)) memcpy(&value, &m_bytes[at], 2);
    return value;
  }

  int32_t TypeCount() const { return static_cast<int32_t>(Word(0x20)); }
  // The segment directory: after the header, the help string DLL's word
  // when it has one, and the type info offset table.
  int64_t Directory() const {
    return 0x54 + ((Word(0x14) & 0x100) ? 4 : 0) + 4 * int64_t(TypeCount());
  }
  int64_t DirectoryEntry(int segment) const {
    return Directory() + 16 * segment;
  }
  int64_t SegmentAt(int segment) const {
    return static_cast<int32_t>(Word(DirectoryEntry(segment)));
  }
  int64_t SegmentSize(int segment) const {
    return static_cast<int32_t>(Word(DirectoryEntry(segment) + 4));
  }
  int64_t TypeInfo(int index) const {
    return SegmentAt(kTypeInfos) + 0x64 * int64_t(index);
  }
  // The file offset of the first copy of pattern inside a segment, or -1.
  int64_t FindIn(int segment, const std::string& pattern) const {
    const int64_t begin = SegmentAt(segment);
    const int64_t end = begin + SegmentSize(segment);
    for (int64_t at = begin; at + int64_t(pattern.size()) <= end; ++at) {
      if (memcmp(&m_bytes[at], pattern.data(), pattern.size()) == 0)
        return at;
    }
    return -1;
  }

 private:
  std::vector<uint8_t> m_bytes;
};

enum class Expect { kLoads, kRefused, kEither };

// One field the reader trusts.
struct Field {
  std::string name;
  int64_t at = -1;  // its file offset; -1: the library lacks it
  int width = 4;    // bytes: 1, 2 or 4
  enum Kind { kLength, kOffset } kind = kLength;
  // A length: the units left for what it measures. An offset: the size of
  // what it points into.
  int64_t room = 0;
  // An offset: the least an entry it names takes.
  int64_t entry = 0;
  // A length stored shifted left by this many bits, the low bits kept.
  int shift = 0;
  // The all-ones word means "none" (no entry, the null string) and is
  // legal; what comes of it is the library's business.
  bool noneIsLegal = false;
  // A length whose value the reader refuses at 0.
  bool zeroRefused = false;
  // A legal length still changes what follows it: loading may go either
  // way, only never wrongly.
  bool legalMayFail = false;
};

Field Length(std::string name, int64_t at, int width, int64_t room) {
  Field field;
  field.name = std::move(name);
  field.at = at;
  field.width = width;
  field.kind = Field::kLength;
  field.room = room;
  return field;
}

Field Offset(std::string name, int64_t at, int64_t room, int64_t entry,
             bool noneIsLegal) {
  Field field;
  field.name = std::move(name);
  field.at = at;
  field.kind = Field::kOffset;
  field.room = room;
  field.entry = entry;
  field.noneIsLegal = noneIsLegal;
  return field;
}

// A value written into a field, and what the reader must make of it.
struct Damage {
  uint32_t stored;
  Expect expect;
  int64_t length;  // a length's value as the reader sees it
};

uint32_t Mask(int width) {
  return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
}

std::vector<Damage> DamagesOf(const Field& field, uint32_t original) {
  std::vector<Damage> damages;
  const uint32_t mask = Mask(field.width);
  if (field.kind == Field::kLength) {
    const int64_t values[] = {0, field.room, field.room + 1, 0x7FFFFFFF,
                              0xFFFFFFFF};
    for (int64_t value : values) {
      // A narrow field holds a large value as its largest.
      const int64_t largest = mask >> field.shift;
      const int64_t length = value < largest ? value : largest;
      const uint32_t low = original & ((1u << field.shift) - 1);
      const uint32_t stored =
          ((static_cast<uint32_t>(length) << field.shift) | low) & mask;
      Expect expect = length <= field.room ? Expect::kLoads : Expect::kRefused;
      if (length == 0 && field.zeroRefused) expect = Expect::kRefused;
      if (expect == Expect::kLoads && field.legalMayFail)
        expect = Expect::kEither;
      if (field.noneIsLegal && stored == mask) expect = Expect::kLoads;
      damages.push_back({stored, expect, length});
    }
  } else {
    const int64_t values[] = {0, field.room - field.entry,
                              field.room - field.entry + 1, 0x7FFFFFFF,
                              0xFFFFFFFF};
    for (int64_t value : values) {
      const uint32_t stored = static_cast<uint32_t>(value) & mask;
      Expect expect = Expect::kRefused;
      if (stored == kNoneWord) {
        if (field.noneIsLegal) expect = Expect::kEither;
      } else if (int64_t(stored) + field.entry <= field.room) {
        // In bounds: what the entry there holds decides.
        expect = Expect::kEither;
      }
      damages.push_back({stored, expect, 0});
    }
  }
  return damages;
}

const char* NameOf(Expect expect) {
  switch (expect) {
    case Expect::kLoads:
      return "loads";
    case Expect::kRefused:
      return "refused";
    case Expect::kEither:
      return "loads or is refused";
  }
  return "?";
}

// Everything a client can ask of a loaded library, so that what the reader
// let through is used once: any description it built wrongly shows here
// (under the sanitizers, as a bad read).
void UseEverything(ITypeLib* lib) {
  const UINT count = lib->GetTypeInfoCount();
  BSTR name = nullptr;
  BSTR doc = nullptr;
  BSTR help = nullptr;
  if (SUCCEEDED(lib->GetDocumentation(-1, &name, &doc, nullptr, &help))) {
    SysFreeString(name);
    SysFreeString(doc);
    SysFreeString(help);
  }
  for (UINT i = 0; i < count; ++i) {
    ComPtr<ITypeInfo> info;
    if (FAILED(lib->GetTypeInfo(i, info.put()))) continue;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) continue;
    const WORD functions = attr->cFuncs;
    const WORD variables = attr->cVars;
    const WORD impls = attr->cImplTypes;
    info->ReleaseTypeAttr(attr);
    for (WORD f = 0; f < functions; ++f) {
      FUNCDESC* desc = nullptr;
      if (FAILED(info->GetFuncDesc(f, &desc))) continue;
      BSTR names[16] = {};
      UINT got = 0;
      if (SUCCEEDED(info->GetNames(desc->memid, names, 16, &got))) {
        for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
      }
      info->ReleaseFuncDesc(desc);
    }
    for (WORD v = 0; v < variables; ++v) {
      VARDESC* desc = nullptr;
      if (SUCCEEDED(info->GetVarDesc(v, &desc))) info->ReleaseVarDesc(desc);
    }
    for (WORD r = 0; r < impls; ++r) {
      ComPtr<ITypeInfo> target;
      (void)Follow(info.get(), r, target.put());
    }
    if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr,
                                         &help))) {
      SysFreeString(name);
      SysFreeString(doc);
      SysFreeString(help);
    }
  }
}

class TypeLibHostileFields : public TypeLibTest {
 protected:
  void SetUp() override {
    TypeLibTest::SetUp();
    m_layout = Layout(ReadBytes(TypelibPath("typelib_features.tlb")));
    ASSERT_GT(m_layout.size(), 0x200);
    ASSERT_EQ(Load(m_layout.bytes()), S_OK);
  }

  HRESULT Load(const std::vector<uint8_t>& bytes,
               ComPtr<ITypeLib>* loaded = nullptr) {
    ComPtr<ITypeLib> lib;
    HRESULT hr = qxplatform::LoadTypeLibFromMemory(bytes.data(), bytes.size(),
                                                   lib.put());
    if (SUCCEEDED(hr)) UseEverything(lib.get());
    if (loaded != nullptr) *loaded = std::move(lib);
    return hr;
  }

  // Damages each field to each of its boundaries in turn, on a fresh copy
  // of the library each time. check, when given, looks at a library that
  // loaded with a length damaged to value.
  template <typename Check>
  void DamageEach(const std::vector<Field>& fields, Check check) {
    for (const Field& field : fields) {
      ASSERT_GE(field.at, 0) << field.name << " is not in the library";
      ASSERT_TRUE(m_layout.Has(field.at, field.width)) << field.name;
      uint32_t original = 0;
      memcpy(&original, &m_layout.bytes()[field.at], field.width);
      for (const Damage& damage : DamagesOf(field, original)) {
        std::vector<uint8_t> bytes = m_layout.bytes();
        memcpy(&bytes[field.at], &damage.stored, field.width);
        ComPtr<ITypeLib> lib;
        const HRESULT hr = Load(bytes, &lib);
        char stored[16];
        snprintf(stored, sizeof(stored), "0x%X", damage.stored);
        const std::string where = field.name + " = " + stored + " (expected " +
                                  NameOf(damage.expect) + ")";
        switch (damage.expect) {
          case Expect::kLoads:
            EXPECT_EQ(hr, S_OK) << where;
            if (hr == S_OK) check(field, damage, lib.get());
            break;
          case Expect::kRefused:
            EXPECT_EQ(hr, TYPE_E_INVDATAREAD) << where;
            break;
          case Expect::kEither:
            EXPECT_TRUE(hr == S_OK || hr == TYPE_E_INVDATAREAD)
                << where << ": 0x" << std::hex << hr;
            break;
        }
      }
    }
  }
  void DamageEach(const std::vector<Field>& fields) {
    DamageEach(fields, [](const Field&, const Damage&, ITypeLib*) {});
  }

  int64_t Seg(int segment) const { return m_layout.SegmentAt(segment); }
  int64_t SegSize(int segment) const { return m_layout.SegmentSize(segment); }

  Layout m_layout{{}};
};

TEST_F(TypeLibHostileFields, SegmentDirectory) {
  std::vector<Field> fields;
  for (int i = 0; i < kSegmentCount; ++i) {
    const int64_t entry = m_layout.DirectoryEntry(i);
    if (Seg(i) == -1) continue;
    const std::string name = "segment " + std::to_string(i);
    // The segment anywhere it fits in the file is read as a segment; its
    // bytes then decide.
    fields.push_back(Offset(name + " offset", entry, m_layout.size(),
                            SegSize(i), /*noneIsLegal=*/true));
    Field length =
        Length(name + " length", entry + 4, 4, m_layout.size() - Seg(i));
    length.legalMayFail = true;
    fields.push_back(length);
  }
  ASSERT_GE(fields.size(), 16u);
  DamageEach(fields);
}

TEST_F(TypeLibHostileFields, Names) {
  const int64_t library = static_cast<int32_t>(m_layout.Word(0x38));
  ASSERT_GE(library, 0);
  // The entries lie one after another, each padded to four bytes: the
  // last one has little room left, so that its length byte can pass it.
  int64_t last = -1;
  for (int64_t at = 0; at + 12 <= SegSize(kNameTable);) {
    last = at;
    at += 12 + ((m_layout.bytes()[Seg(kNameTable) + at + 8] + 3) & ~3);
  }
  ASSERT_GE(last, 0);
  ASSERT_LT(SegSize(kNameTable) - (last + 12), 0xFF);
  const int64_t typeName =
      static_cast<int32_t>(m_layout.Word(m_layout.TypeInfo(0) + 0x34));
  // A name entry: href, next, length byte, kind, hash, the bytes.
  const std::vector<Field> fields = {
      Offset("library name offset", 0x38, SegSize(kNameTable), 12, true),
      Offset("first type's name offset", m_layout.TypeInfo(0) + 0x34,
             SegSize(kNameTable), 12, true),
      Length("library name length", Seg(kNameTable) + library + 8, 1,
             SegSize(kNameTable) - (library + 12)),
      Length("first type's name length", Seg(kNameTable) + typeName + 8, 1,
             SegSize(kNameTable) - (typeName + 12)),
      Length("last name's length", Seg(kNameTable) + last + 8, 1,
             SegSize(kNameTable) - (last + 12)),
  };
  DamageEach(fields, [&](const Field& field, const Damage& damage,
                         ITypeLib* lib) {
    if (field.name != "library name length") return;
    BSTR name = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(SysStringLen(name), static_cast<UINT>(damage.length));
    SysFreeString(name);
  });
}

TEST_F(TypeLibHostileFields, Strings) {
  const int64_t doc = static_cast<int32_t>(m_layout.Word(0x24));
  const int64_t helpFile = static_cast<int32_t>(m_layout.Word(0x3C));
  ASSERT_GE(doc, 0);
  ASSERT_GE(helpFile, 0);
  // A string entry: a 16-bit length, the bytes.
  const std::vector<Field> fields = {
      Offset("library doc string offset", 0x24, SegSize(kStringTable), 2,
             true),
      Offset("library help file offset", 0x3C, SegSize(kStringTable), 2, true),
      Length("library doc string length", Seg(kStringTable) + doc, 2,
             SegSize(kStringTable) - (doc + 2)),
      Length("library help file length", Seg(kStringTable) + helpFile, 2,
             SegSize(kStringTable) - (helpFile + 2)),
  };
  DamageEach(fields, [&](const Field& field, const Damage& damage,
                         ITypeLib* lib) {
    if (field.name != "library doc string length") return;
    BSTR text = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, nullptr, &text, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(SysStringLen(text), static_cast<UINT>(damage.length));
    SysFreeString(text);
  });
}

// A string constant in the custom data segment: VT_BSTR, a 32-bit length
// (all ones: the null string), the bytes.
TEST_F(TypeLibHostileFields, StringConstants) {
  const int64_t none = m_layout.FindIn(
      kCustomData, std::string("\x08\x00\x04\x00\x00\x00none", 10));
  const int64_t baseData = m_layout.FindIn(
      kCustomData, std::string("\x08\x00\x09\x00\x00\x00" "base data", 15));
  ASSERT_GE(none, 0) << "Draw's default is not in the custom data";
  ASSERT_GE(baseData, 0) << "IFeatureBase's custom data is not there";
  const int64_t end = Seg(kCustomData) + SegSize(kCustomData);
  Field defaultLength =
      Length("Draw's default length", none + 2, 4, end - (none + 6));
  defaultLength.noneIsLegal = true;
  Field customLength =
      Length("custom data string length", baseData + 2, 4,
             end - (baseData + 6));
  customLength.noneIsLegal = true;
  DamageEach({defaultLength, customLength}, [&](const Field& field,
                                                const Damage& damage,
                                                ITypeLib* lib) {
    if (field.name != defaultLength.name) return;
    ComPtr<ITypeInfo> dual;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(FeatureGuid(0x05), dual.put()), S_OK);
    FUNCDESC* draw = nullptr;
    ASSERT_EQ(dual->GetFuncDesc(7 + 2, &draw), S_OK);
    ASSERT_EQ(draw->cParams, 4);
    const PARAMDESC& label = draw->lprgelemdescParam[2].paramdesc;
    ASSERT_NE(label.pparamdescex, nullptr);
    const VARIANT& value = label.pparamdescex->varDefaultValue;
    EXPECT_EQ(value.vt, VT_BSTR);
    if (damage.stored == kNoneWord) {
      EXPECT_EQ(value.bstrVal, nullptr);
    } else {
      EXPECT_EQ(SysStringLen(value.bstrVal),
                static_cast<UINT>(damage.length));
    }
    dual->ReleaseFuncDesc(draw);
  });
}

// Custom data directory entries: GUID offset, value, next.
TEST_F(TypeLibHostileFields, CustomData) {
  int64_t head = -1;
  int64_t owner = -1;
  for (int i = 0; i < m_layout.TypeCount() && head < 0; ++i) {
    owner = m_layout.TypeInfo(i) + 0x48;
    head = static_cast<int32_t>(m_layout.Word(owner));
  }
  ASSERT_GE(head, 0) << "no type with custom data";
  const int64_t entry = Seg(kCustomDirectory) + head;
  const std::vector<Field> fields = {
      Offset("custom data chain", owner, SegSize(kCustomDirectory), 12, true),
      Offset("custom entry's GUID", entry, SegSize(kGuidTable), 24, false),
      // A value below 0 other than all ones is an inline constant.
      Offset("custom entry's value", entry + 4, SegSize(kCustomData), 2, true),
      Offset("custom entry's next", entry + 8, SegSize(kCustomDirectory), 12,
             true),
  };
  DamageEach(fields);
}

// Import info entries: flags, import file offset, GUID offset or type
// index. Import file entries: LIBID offset, lcid, version, a size word
// holding the name's length times four, the name.
TEST_F(TypeLibHostileFields, Imports) {
  ASSERT_GE(SegSize(kImportInfo), 12) << "the library imports nothing";
  const int64_t info = Seg(kImportInfo);
  ASSERT_NE(m_layout.bytes()[info + 2] & 1, 0) << "an import by GUID";
  const int64_t file = static_cast<int32_t>(m_layout.Word(info + 4));
  ASSERT_GE(file, 0);
  const int64_t fileEntry = Seg(kImportFiles) + file;
  Field name = Length("import file name length", fileEntry + 12, 2,
                      SegSize(kImportFiles) - (file + 14));
  name.shift = 2;
  const std::vector<Field> fields = {
      Offset("import's file", info + 4, SegSize(kImportFiles), 14, false),
      Offset("import's GUID", info + 8, SegSize(kGuidTable), 24, true),
      Offset("import file's LIBID", fileEntry, SegSize(kGuidTable), 24, false),
      name,
  };
  DamageEach(fields);
}

// A C array's type description names its descriptor: element type,
// dimension count, a word, then per dimension the count and lower bound.
TEST_F(TypeLibHostileFields, ArrayDescriptors) {
  int64_t carray = -1;
  for (int64_t at = Seg(kTypeDescs);
       at + 8 <= Seg(kTypeDescs) + SegSize(kTypeDescs); at += 8) {
    if ((m_layout.Half(at) & 0x7FFF) == VT_CARRAY) {
      carray = at;
      break;
    }
  }
  ASSERT_GE(carray, 0) << "Extent.tag's array is not there";
  const int64_t descriptor = static_cast<int32_t>(m_layout.Word(carray + 4));
  ASSERT_GE(descriptor, 0);
  Field dims = Length("array dimension count",
                      Seg(kArrayDescs) + descriptor + 4, 2,
                      (SegSize(kArrayDescs) - (descriptor + 8)) / 8);
  dims.zeroRefused = true;
  // More dimensions read what follows as bounds, which any words are.
  const std::vector<Field> fields = {
      Offset("C array's descriptor", carray + 4, SegSize(kArrayDescs), 16,
             false),
      dims,
  };
  DamageEach(fields);
}

// A type's member block: the records' size, the records, then three words
// per member.
TEST_F(TypeLibHostileFields, MemberBlock) {
  std::vector<Field> fields;
  for (int i = 0; i < m_layout.TypeCount(); ++i) {
    const int64_t type = m_layout.TypeInfo(i);
    const uint32_t elements = m_layout.Word(type + 0x18);
    const int64_t members = (elements & 0xFFFF) + (elements >> 16);
    if (members == 0) continue;
    const int64_t block = static_cast<int32_t>(m_layout.Word(type + 0x04));
    Field size = Length("type " + std::to_string(i) + " records' size", block,
                        4, m_layout.size() - block - 4 - 12 * members);
    size.legalMayFail = true;
    fields.push_back(size);
  }
  ASSERT_FALSE(fields.empty());
  DamageEach(fields);
}

}  // namespace
