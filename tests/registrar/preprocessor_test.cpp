// How %name% references are expanded before the script is read: escaping,
// case-insensitive lookup, name length, unclosed and unknown references,
// double-byte values, growth of the output and running out of memory; and
// the variable map that answers the lookups.
#include <string>

#include "registrar/replacement_map.h"
#include "registrar/script_parser.h"
#include "registrar/text_builder.h"
#include "registrar_fixture.h"

namespace {

class PreprocessorTest : public RegistrarTest {
 protected:
  void SetUp() override {
    RegistrarTest::SetUp();
    ASSERT_EQ(m_map.Make(), S_OK);
    m_heapBlocksBefore = qxplatform::LiveHeapBlocks();
  }
  void TearDown() override {
    m_map.Clear();
    RegistrarTest::TearDown();
  }

  // The expanded text, or "<hr 0x...>" for a failure.
  std::string Expand(const std::string& text) {
    ScriptParser parser(&m_map);
    char* expanded = reinterpret_cast<char*>(1);
    const HRESULT hr = parser.ExpandVariables(text.c_str(), &expanded);
    if (FAILED(hr)) {
      EXPECT_EQ(expanded, nullptr);
      char status[32];
      snprintf(status, sizeof(status), "<hr 0x%08X>",
               static_cast<unsigned>(hr));
      return status;
    }
    std::string result(expanded);
    CoTaskMemFree(expanded);
    return result;
  }

  ReplacementMap m_map{kTestHeapAllocator};
};

TEST_F(PreprocessorTest, TextWithoutReferencesIsCopied) {
  EXPECT_EQ(Expand("HKCR { a = s 'b' }"), "HKCR { a = s 'b' }");
  EXPECT_EQ(Expand(""), "");
}

TEST_F(PreprocessorTest, DoublePercentGivesOnePercent) {
  EXPECT_EQ(Expand("100%% sure %%%%"), "100% sure %%");
}

TEST_F(PreprocessorTest, ReferenceIsReplacedWhateverItsCase) {
  ASSERT_EQ(m_map.AddPair(OLESTR("Module"), OLESTR("C:\\q.dll")), S_OK);
  EXPECT_EQ(Expand("'%MODULE%' %module% %Module%"),
            "'C:\\q.dll' C:\\q.dll C:\\q.dll");
}

TEST_F(PreprocessorTest, FirstOfTwoSameNamedPairsWins) {
  ASSERT_EQ(m_map.AddPair(OLESTR("A"), OLESTR("first")), S_OK);
  ASSERT_EQ(m_map.AddPair(OLESTR("a"), OLESTR("second")), S_OK);
  EXPECT_EQ(Expand("%a%"), "first");
}

TEST_F(PreprocessorTest, NameOf31BytesIsFoundAnd32Fails) {
  const std::string name31(31, 'n');
  const std::u16string wide31(31, u'n');
  ASSERT_EQ(m_map.AddPair(wide31.c_str(), OLESTR("v")), S_OK);
  EXPECT_EQ(Expand("<%" + name31 + "%>"), "<v>");
  EXPECT_EQ(Expand("<%" + name31 + "n%>"), "<hr 0x80004005>");
}

TEST_F(PreprocessorTest, UnclosedOrUnknownReferenceFails) {
  ASSERT_EQ(m_map.AddPair(OLESTR("Module"), OLESTR("m")), S_OK);
  EXPECT_EQ(Expand("text %"), "<hr 0x80020009>");
  EXPECT_EQ(Expand("%Module"), "<hr 0x80020009>");
  EXPECT_EQ(Expand("%Other%"), "<hr 0x80020009>");
  EXPECT_EQ(Expand("%%%"), "<hr 0x80020009>");
}

TEST_F(PreprocessorTest, EmptyMapKnowsNoVariable) {
  ScriptParser parser(nullptr);
  char* expanded = nullptr;
  EXPECT_EQ(parser.ExpandVariables("%Module%", &expanded), DISP_E_EXCEPTION);
  EXPECT_EQ(Expand("%Module%"), "<hr 0x80020009>");
}

TEST_F(PreprocessorTest, DoubleByteValueIsExpandedByteForByte) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  // U+8868 and U+30BD are 0x95 0x5C and 0x83 0x5C in code page 932.
  const char16_t value[] = {u'C', u':', 0x8868, 0x30BD, u'\'', 0};
  ASSERT_EQ(m_map.AddPair(OLESTR("Module"), value), S_OK);
  char converted[16] = {};
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, value, -1, converted,
                                sizeof(converted), nullptr, nullptr),
            0);
  EXPECT_EQ(std::string(converted), "C:\x95\x5C\x83\x5C'");
  EXPECT_EQ(Expand("[%Module%]"), std::string("[") + converted + "]");
}

TEST_F(PreprocessorTest, PercentBehindALeadByteIsItsTrailByte) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  // The text is walked by whole characters: the "%" behind the lead byte
  // 0x95 belongs to that character, so the next "%" begins a reference
  // rather than closing an escape.
  ASSERT_EQ(m_map.AddPair(OLESTR("x"), OLESTR("y")), S_OK);
  EXPECT_EQ(Expand("\x95%%x%"), "\x95%y");
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(1252));
  EXPECT_EQ(Expand("\x95%%x%"), "<hr 0x80020009>");  // "%%" then a lone "%"
}

TEST_F(PreprocessorTest, LeadByteBeforeTheEndIsCopiedAlone) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  EXPECT_EQ(Expand("ab\x95"), "ab\x95");
  EXPECT_EQ(Expand("%\x95"), "<hr 0x80020009>");
}

TEST_F(PreprocessorTest, OutputGrowsPastTwiceTheText) {
  const std::u16string longValue(1000, u'v');
  ASSERT_EQ(m_map.AddPair(OLESTR("Long"), longValue.c_str()), S_OK);
  EXPECT_EQ(Expand("%Long%%Long%"), std::string(2000, 'v'));
}

TEST_F(PreprocessorTest, NoBlockForTheOutputIsOutOfMemory) {
  qxplatform::FailTaskAllocAt(1);
  EXPECT_EQ(Expand("HKCR { }"), "<hr 0x8007000E>");
  ExpectNothingHeld();
}

TEST_F(PreprocessorTest, FailedGrowthIsOutOfMemoryAndFreesTheBlock) {
  const std::u16string longValue(100, u'v');
  ASSERT_EQ(m_map.AddPair(OLESTR("Long"), longValue.c_str()), S_OK);
  const long before = qxplatform::LiveTaskBlocks();
  qxplatform::FailTaskAllocAt(2);  // the first growth of the block
  EXPECT_EQ(Expand("%Long%"), "<hr 0x8007000E>");
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), before);
}

TEST_F(PreprocessorTest, TextBuilderDoublesOnlyWhenTheNextCharacterDoesNotFit) {
  TextBuilder builder;
  ASSERT_EQ(builder.Make(2), S_OK);
  EXPECT_EQ(builder.Capacity(), 4u);
  for (const char* c = "abcd"; *c != '\0'; ++c) {
    ASSERT_EQ(builder.AppendCharacter(c), S_OK);
  }
  EXPECT_EQ(builder.Capacity(), 4u);
  ASSERT_EQ(builder.AppendTerminator(), S_OK);
  EXPECT_EQ(builder.Capacity(), 8u);
  char* text = builder.Detach();
  EXPECT_STREQ(text, "abcd");
  CoTaskMemFree(text);

  TextBuilder empty;
  ASSERT_EQ(empty.Make(0), S_OK);
  EXPECT_EQ(empty.Capacity(), 1u);
}

// Sizes whose doubling or sum does not fit a size_t are refused as out of
// memory, never wrapped round to a small block that is then overrun.
TEST_F(PreprocessorTest, TextBuilderRefusesSizesThatWouldWrap) {
  TextBuilder huge;
  EXPECT_EQ(huge.Make(SIZE_MAX / 2 + 1), E_OUTOFMEMORY);
  EXPECT_EQ(huge.Capacity(), 0u);

  TextBuilder builder;
  ASSERT_EQ(builder.Make(1), S_OK);
  ASSERT_EQ(builder.AppendCharacter("a"), S_OK);
  EXPECT_EQ(builder.AppendCharacters("b", SIZE_MAX), E_OUTOFMEMORY);
  EXPECT_EQ(builder.AppendCharacters("b", SIZE_MAX / 2 + 1), E_OUTOFMEMORY);
  EXPECT_EQ(builder.Count(), 1u);
  ASSERT_EQ(builder.AppendTerminator(), S_OK);
  char* text = builder.Detach();
  EXPECT_STREQ(text, "a");
  CoTaskMemFree(text);
}

TEST_F(PreprocessorTest, MapDoublesItsCapacityOnTheEleventhPair) {
  EXPECT_EQ(m_map.Capacity(), 10u);
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(m_map.AddPair(OLESTR("n"), OLESTR("v")), S_OK);
  }
  EXPECT_EQ(m_map.Capacity(), 10u);
  ASSERT_EQ(m_map.AddPair(OLESTR("n"), OLESTR("v")), S_OK);
  EXPECT_EQ(m_map.Capacity(), 20u);
  EXPECT_EQ(m_map.Count(), 11);
}

TEST_F(PreprocessorTest, MapKeepsItsOwnCopies) {
  char16_t name[] = u"Name";
  char16_t value[] = u"before";
  ASSERT_EQ(m_map.AddPair(name, value), S_OK);
  name[0] = u'X';
  value[0] = u'X';
  EXPECT_EQ(Expand("%name%"), "before");
}

TEST_F(PreprocessorTest, MapOutOfMemoryLeavesItAsItWas) {
  const long taskBefore = qxplatform::LiveTaskBlocks();
  const long heapBefore = qxplatform::LiveHeapBlocks();
  qxplatform::FailHeapAllocAt(1);  // the pair
  EXPECT_EQ(m_map.AddPair(OLESTR("a"), OLESTR("b")), E_OUTOFMEMORY);
  qxplatform::FailTaskAllocAt(1);  // the name copy
  EXPECT_EQ(m_map.AddPair(OLESTR("a"), OLESTR("b")), E_OUTOFMEMORY);
  qxplatform::FailTaskAllocAt(2);  // the value copy
  EXPECT_EQ(m_map.AddPair(OLESTR("a"), OLESTR("b")), E_OUTOFMEMORY);
  EXPECT_EQ(m_map.Count(), 0);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), taskBefore);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), heapBefore);

  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(m_map.AddPair(OLESTR("n"), OLESTR("v")), S_OK);
  }
  qxplatform::FailHeapAllocAt(2);  // the larger array, after the pair
  EXPECT_EQ(m_map.AddPair(OLESTR("a"), OLESTR("b")), E_OUTOFMEMORY);
  EXPECT_EQ(m_map.Count(), 10);
  EXPECT_EQ(m_map.Capacity(), 10u);
}

TEST_F(PreprocessorTest, ClearFreesEveryPairAndKeepsTheArray) {
  const long taskBefore = qxplatform::LiveTaskBlocks();
  const long heapBefore = qxplatform::LiveHeapBlocks();
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(m_map.AddPair(OLESTR("n"), OLESTR("v")), S_OK);
  }
  m_map.Clear();
  EXPECT_EQ(m_map.Count(), 0);
  EXPECT_EQ(m_map.Capacity(), 20u);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), taskBefore);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), heapBefore);
}

TEST_F(PreprocessorTest, RunnerReportsAVariableThatCannotBeStored) {
  const LPCOLESTR names[] = {OLESTR("Module")};
  const LPCOLESTR values[] = {OLESTR("m")};
  qxplatform::FailTaskAllocAt(1);
  EXPECT_EQ(RunScriptWithVariables(kTestHeapAllocator, "HKCR { }", names,
                                   values, 1, TRUE),
            E_OUTOFMEMORY);
  ExpectNothingHeld();
}

}  // namespace
