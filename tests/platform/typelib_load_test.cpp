// LoadTypeLib's refusals: files that are no library, damaged or hostile
// library bytes, resource paths, and allocation failures on the way out.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "typelib_support.h"

namespace {

using namespace typelib_test;

// Offsets in the product's library, as the compiler lays it out (checked
// by ProductLayoutIsAsExpected, so that a new layout shows there first).
constexpr size_t kFormatVersion = 0x04;
constexpr size_t kDirectory = 0x5C;  // two type infos, no help string DLL
constexpr size_t kGuidSegmentEntry = kDirectory + 5 * 16;
constexpr size_t kLibraryCustomData = 0x40;

class TypeLibLoad : public TypeLibTest {
 protected:
  void SetUp() override {
    TypeLibTest::SetUp();
    m_bytes = ReadBytes(TypelibPath("qxKorvex.tlb"));
    ASSERT_GT(m_bytes.size(), 0x100u);
  }

  uint32_t Word(size_t offset) const {
    uint32_t value;
    memcpy(&value, &m_bytes[offset], 4);
    return value;
  }
  void SetWord(size_t offset, uint32_t value) {
    memcpy(&m_bytes[offset], &value, 4);
  }
  // A segment's file offset, from the directory.
  uint32_t Segment(int index) const { return Word(kDirectory + 16 * index); }

  HRESULT LoadBytes(const std::vector<uint8_t>& bytes) {
    ComPtr<ITypeLib> lib;
    return qxplatform::LoadTypeLibFromMemory(bytes.data(), bytes.size(),
                                             lib.put());
  }
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    std::string path = testing::TempDir() + name;
    FILE* file = fopen(path.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    return path;
  }

  std::vector<uint8_t> m_bytes;
};

TEST_F(TypeLibLoad, ProductLayoutIsAsExpected) {
  EXPECT_EQ(Word(kFormatVersion), 0x00010002u);
  EXPECT_EQ(Segment(0), kDirectory + 15 * 16);  // type infos after it
  EXPECT_EQ(Word(kLibraryCustomData), 0x18u);
  EXPECT_EQ(LoadBytes(m_bytes), S_OK);
}

TEST_F(TypeLibLoad, FilesThatAreNoLibrary) {
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadTypeLib(u"/nonexistent/qx.tlb", lib.put()),
            TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(LoadTypeLib(Wide(testing::TempDir()).c_str(), lib.put()),
            TYPE_E_CANTLOADLIBRARY);
  std::string empty = WriteFile("empty.tlb", "");
  EXPECT_EQ(LoadTypeLib(Wide(empty).c_str(), lib.put()),
            TYPE_E_CANTLOADLIBRARY);
  std::string text = WriteFile("text.tlb", "just some text\n");
  EXPECT_EQ(LoadTypeLib(Wide(text).c_str(), lib.put()), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(LoadTypeLib(u"", lib.put()), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(LoadTypeLib(nullptr, lib.put()), E_INVALIDARG);
  EXPECT_EQ(LoadTypeLib(u"x.tlb", nullptr), E_INVALIDARG);
  EXPECT_EQ(LoadTypeLibEx(u"x.tlb", static_cast<REGKIND>(3), lib.put()),
            E_INVALIDARG);
}

TEST_F(TypeLibLoad, OtherFormatsAreUnsupported) {
  std::string sltg = WriteFile("old.tlb", "SLTG and whatever follows");
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadTypeLib(Wide(sltg).c_str(), lib.put()), TYPE_E_UNSUPFORMAT);
  SetWord(kFormatVersion, 0x00010003);
  EXPECT_EQ(LoadBytes(m_bytes), TYPE_E_UNSUPFORMAT);
  EXPECT_EQ(LoadBytes({'M', 'S'}), TYPE_E_UNSUPFORMAT);
}

// The library ends in its last member block: no prefix of it holds
// together.
TEST_F(TypeLibLoad, EveryTruncationIsRefused) {
  for (size_t length = 4; length < m_bytes.size(); ++length) {
    std::vector<uint8_t> prefix(m_bytes.begin(), m_bytes.begin() + length);
    ASSERT_EQ(LoadBytes(prefix), TYPE_E_INVDATAREAD) << length;
  }
}

TEST_F(TypeLibLoad, SegmentOutsideTheFileIsRefused) {
  SetWord(kGuidSegmentEntry, static_cast<uint32_t>(m_bytes.size() - 8));
  EXPECT_EQ(LoadBytes(m_bytes), TYPE_E_INVDATAREAD);
}

TEST_F(TypeLibLoad, TypeDescriptionThatPointsAtItselfIsRefused) {
  const uint32_t typeDescs = Segment(9);
  ASSERT_EQ(Word(typeDescs) & 0xFFFF, static_cast<uint32_t>(VT_PTR));
  SetWord(typeDescs + 4, 0);  // long* becomes a pointer to itself
  EXPECT_EQ(LoadBytes(m_bytes), TYPE_E_INVDATAREAD);
}

TEST_F(TypeLibLoad, CustomDataChainThatLoopsIsRefused) {
  const uint32_t first = Word(kLibraryCustomData);
  SetWord(Segment(12) + first + 8, first);
  EXPECT_EQ(LoadBytes(m_bytes), TYPE_E_INVDATAREAD);
}

TEST_F(TypeLibLoad, ReferenceToNoTypeIsRefused) {
  const uint32_t refTable = Segment(3);
  ASSERT_EQ(Word(refTable), 0x64u);  // the coclass's interface: type 1
  SetWord(refTable, 2 * 0x64);
  EXPECT_EQ(LoadBytes(m_bytes), TYPE_E_INVDATAREAD);
  SetWord(refTable, 0x65);  // an import that is not there
  EXPECT_EQ(LoadBytes(m_bytes), TYPE_E_INVDATAREAD);
}

TEST_F(TypeLibLoad, MemberRecordOutsideItsBlockIsRefused) {
  const uint32_t block = Word(Segment(0) + 0x64 + 0x04);
  const uint32_t recordsSize = Word(block);
  // The record offset array: the last word of the block.
  SetWord(block + 4 + recordsSize + 8, recordsSize);
  EXPECT_EQ(LoadBytes(m_bytes), TYPE_E_INVDATAREAD);
}

// "file\N" names resource N only where no file has that whole name.
TEST_F(TypeLibLoad, ResourceIndexOnlyWhereNoSuchFile) {
  std::string plain =
      WriteFile("indexed.tlb", std::string(m_bytes.begin(), m_bytes.end()));
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadTypeLib(Wide(plain + "\\1").c_str(), lib.put()),
            TYPE_E_CANTLOADLIBRARY);  // a .tlb has no resources
  std::string named =
      WriteFile("indexed.tlb\\2", std::string(m_bytes.begin(), m_bytes.end()));
  EXPECT_EQ(LoadTypeLib(Wide(named).c_str(), lib.put()), S_OK);
  EXPECT_EQ(LoadTypeLib(Wide(plain + "\\x").c_str(), lib.put()),
            TYPE_E_CANTLOADLIBRARY);
}

TEST_F(TypeLibLoad, BareStdole2IsTheBuiltInOne) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(testing::TempDir().c_str()), 0);
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, lib.put());
  ASSERT_EQ(chdir(previous), 0);
  ASSERT_EQ(hr, S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, kStdole2Libid);
  EXPECT_EQ(attr->wMajorVerNum, 2);
  EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  lib->ReleaseTLibAttr(attr);
}

TEST_F(TypeLibLoad, AllocationFailuresLeaveNothingBehind) {
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadFile(TypelibPath("typelib_features.tlb"), lib.put()), S_OK);
  ComPtr<ITypeInfo> dual;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(FeatureGuid(0x05), dual.put()), S_OK);

  qxplatform::FailTaskAllocAt(1);
  TYPEATTR* attr = nullptr;
  EXPECT_EQ(dual->GetTypeAttr(&attr), E_OUTOFMEMORY);
  EXPECT_EQ(attr, nullptr);

  // Draw's block, then its BSTR default.
  qxplatform::FailTaskAllocAt(2);
  FUNCDESC* draw = nullptr;
  EXPECT_EQ(dual->GetFuncDesc(7 + 2, &draw), E_OUTOFMEMORY);
  EXPECT_EQ(draw, nullptr);

  qxplatform::FailTaskAllocAt(2);
  BSTR name = nullptr;
  BSTR doc = nullptr;
  EXPECT_EQ(dual->GetDocumentation(1, &name, &doc, nullptr, nullptr),
            E_OUTOFMEMORY);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(doc, nullptr);

  qxplatform::FailTaskAllocAt(2);
  BSTR names[3] = {};
  UINT count = 7;
  EXPECT_EQ(dual->GetNames(2, names, 3, &count), E_OUTOFMEMORY);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 0);
}

}  // namespace
