// The COM task allocator, BSTRs, variants and VarUI4FromStr.
#include <objbase.h>
#include <oleauto.h>
#include <string.h>

#include <ostream>
#include <windows.h>

#include "support/platform_fixture.h"

namespace {

class AutomationTest : public PlatformTest {};

DWORD PrefixOf(BSTR text) {
  DWORD prefix;
  memcpy(&prefix, reinterpret_cast<char*>(text) - sizeof(DWORD),
         sizeof(prefix));
  return prefix;
}

TEST_F(AutomationTest, TaskAllocatorCountsAndReallocates) {
  char* block = static_cast<char*>(CoTaskMemAlloc(4));
  ASSERT_NE(block, nullptr);
  memcpy(block, "abc", 4);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 1);
  block = static_cast<char*>(CoTaskMemRealloc(block, 4096));
  ASSERT_NE(block, nullptr);
  EXPECT_STREQ(block, "abc");
  EXPECT_EQ(CoTaskMemRealloc(block, 0), nullptr);  // frees it
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 0);
  void* fresh = CoTaskMemRealloc(nullptr, 8);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 1);
  CoTaskMemFree(fresh);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 0);
}

TEST_F(AutomationTest, FailTaskAllocAtKeepsTheOldBlockOnRealloc) {
  char* block = static_cast<char*>(CoTaskMemAlloc(4));
  memcpy(block, "abc", 4);
  qxplatform::FailTaskAllocAt(1);
  EXPECT_EQ(CoTaskMemRealloc(block, 64), nullptr);
  EXPECT_STREQ(block, "abc");
  CoTaskMemFree(block);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 0);
}

TEST_F(AutomationTest, BstrLayoutHasByteLengthPrefixAndTerminator) {
  BSTR text = SysAllocString(OLESTR("Korvex"));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(PrefixOf(text), 12u);
  EXPECT_EQ(SysStringLen(text), 6u);
  EXPECT_EQ(SysStringByteLen(text), 12u);
  EXPECT_EQ(text[6], 0);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 1);
  SysFreeString(text);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 0);
}

TEST_F(AutomationTest, BstrLengthsAndNulls) {
  BSTR embedded = SysAllocStringLen(OLESTR("a\0b"), 3);
  EXPECT_EQ(SysStringLen(embedded), 3u);
  EXPECT_EQ(embedded[2], u'b');
  BSTR uninitialised = SysAllocStringLen(nullptr, 5);
  ASSERT_NE(uninitialised, nullptr);
  EXPECT_EQ(SysStringLen(uninitialised), 5u);
  EXPECT_EQ(uninitialised[5], 0);
  BSTR odd = SysAllocStringByteLen("abc", 3);
  EXPECT_EQ(SysStringByteLen(odd), 3u);
  EXPECT_EQ(SysStringLen(odd), 1u);
  EXPECT_EQ(memcmp(odd, "abc\0\0", 5), 0);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  SysFreeString(embedded);
  SysFreeString(uninitialised);
  SysFreeString(odd);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 0);
}

TEST_F(AutomationTest, FailTaskAllocAtFailsBstrAllocation) {
  qxplatform::FailTaskAllocAt(2);
  BSTR first = SysAllocString(OLESTR("one"));
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(SysAllocString(OLESTR("two")), nullptr);
  BSTR third = SysAllocString(OLESTR("three"));
  EXPECT_NE(third, nullptr);
  SysFreeString(first);
  SysFreeString(third);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 0);
}

struct CountedUnknown : IUnknown {
  ULONG references = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

TEST_F(AutomationTest, VariantClearReleasesWhatTheVariantOwns) {
  VARIANT value;
  VariantInit(&value);
  EXPECT_EQ(value.vt, VT_EMPTY);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(OLESTR("x"));
  EXPECT_EQ(VariantClear(&value), S_OK);
  EXPECT_EQ(value.vt, VT_EMPTY);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 0);

  CountedUnknown object;
  object.references = 2;
  value.vt = VT_UNKNOWN;
  value.punkVal = &object;
  EXPECT_EQ(VariantClear(&value), S_OK);
  EXPECT_EQ(object.references, 1u);
}

TEST_F(AutomationTest, VariantClearLeavesReferencesAlone) {
  BSTR text = SysAllocString(OLESTR("kept"));
  VARIANT value;
  value.vt = VT_BSTR | VT_BYREF;
  value.pbstrVal = &text;
  EXPECT_EQ(VariantClear(&value), S_OK);
  EXPECT_EQ(value.vt, VT_EMPTY);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), 1);
  SysFreeString(text);
  value.vt = 0x0FFF;
  EXPECT_EQ(VariantClear(&value), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

struct Ui4Case {
  const char16_t* text;
  HRESULT result;
  ULONG value;
};

// Names the case after its text, with anything but letters and digits
// written as _hex, so that test names stay stable and plain.
void PrintTo(const Ui4Case& c, std::ostream* os) {
  static const char kHex[] = "0123456789abcdef";
  *os << "text_";
  for (const char16_t* p = c.text; *p != 0; ++p) {
    char16_t unit = *p;
    bool plain = (unit >= u'0' && unit <= u'9') ||
                 (unit >= u'a' && unit <= u'z') ||
                 (unit >= u'A' && unit <= u'Z');
    if (plain) {
      *os << static_cast<char>(unit);
    } else {
      *os << '_' << kHex[(unit >> 4) & 0xF] << kHex[unit & 0xF];
    }
  }
}

class VarUI4FromStrTest : public ::testing::TestWithParam<Ui4Case> {};

TEST_P(VarUI4FromStrTest, ConvertsAsTheEnglishLocaleReadsIt) {
  const Ui4Case& c = GetParam();
  ULONG out = 0xDEADBEEF;
  HRESULT hr =
      VarUI4FromStr(const_cast<OLECHAR*>(c.text), LOCALE_USER_DEFAULT, 0, &out);
  EXPECT_EQ(hr, c.result);
  EXPECT_EQ(out,
            SUCCEEDED(hr) ? c.value : 0xDEADBEEFu);  // untouched on failure
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VarUI4FromStrTest,
    ::testing::Values(
        Ui4Case{u"4096", S_OK, 0x1000}, Ui4Case{u" 12 ", S_OK, 12},
        Ui4Case{u"\t+7\r\n", S_OK, 7}, Ui4Case{u"1,000", S_OK, 1000},
        Ui4Case{u"&Hff", S_OK, 0xFF}, Ui4Case{u"&HFFFFFFFF", S_OK, 0xFFFFFFFF},
        Ui4Case{u"&o17", S_OK, 15}, Ui4Case{u"4294967295", S_OK, 0xFFFFFFFF},
        Ui4Case{u"2.5", S_OK, 2}, Ui4Case{u"3.5", S_OK, 4},
        Ui4Case{u"2.51", S_OK, 3}, Ui4Case{u"-0", S_OK, 0},
        Ui4Case{u"-0.4", S_OK, 0}, Ui4Case{u"4294967296", DISP_E_OVERFLOW, 0},
        Ui4Case{u"4294967295.5", DISP_E_OVERFLOW, 0},
        Ui4Case{u"&H100000000", DISP_E_OVERFLOW, 0},
        Ui4Case{u"-1", DISP_E_OVERFLOW, 0},
        Ui4Case{u"abc", DISP_E_TYPEMISMATCH, 0},
        Ui4Case{u"", DISP_E_TYPEMISMATCH, 0},
        Ui4Case{u"   ", DISP_E_TYPEMISMATCH, 0},
        Ui4Case{u"1 2", DISP_E_TYPEMISMATCH, 0},
        Ui4Case{u",1", DISP_E_TYPEMISMATCH, 0},
        Ui4Case{u"&H", DISP_E_TYPEMISMATCH, 0},
        Ui4Case{u"&Hfg", DISP_E_TYPEMISMATCH, 0},
        Ui4Case{u"99999999999x", DISP_E_TYPEMISMATCH, 0}));

TEST(VarUI4FromStrArguments, NullArgumentsAreInvalid) {
  ULONG out = 5;
  EXPECT_EQ(VarUI4FromStr(nullptr, LOCALE_USER_DEFAULT, 0, &out), E_INVALIDARG);
  EXPECT_EQ(out, 5u);
  OLECHAR text[] = u"1";
  EXPECT_EQ(VarUI4FromStr(text, LOCALE_USER_DEFAULT, 0, nullptr), E_INVALIDARG);
}

}  // namespace
