// ANSI code pages and UTF-8: the 1252 specials, double-byte text of 932,
// size queries, buffer and flag errors, and the default character.
#include <string.h>
#include <windows.h>

#include <string>

#include "support/platform_fixture.h"

namespace {

class CodePageTest : public PlatformTest {};

// "日本語" followed by "ソ", whose trail byte is 0x5C (a backslash alone).
constexpr char kJapaneseText[] = "\x93\xfa\x96\x7b\x8c\xea\x83\x5c";
constexpr char16_t kJapaneseWide[] = u"\u65E5\u672C\u8A9E\u30BD";

std::u16string ToWide(UINT codePage, const char* text, int length = -1) {
  WCHAR buffer[256] = {};
  int count = MultiByteToWideChar(codePage, 0, text, length, buffer, 256);
  return std::u16string(buffer, count > 0 ? count : 0);
}

TEST_F(CodePageTest, DefaultsToWesternAndSwitchesToJapanese) {
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_FALSE(qxplatform::SetAnsiCodePage(1251));
  EXPECT_EQ(GetACP(), 1252u);
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  EXPECT_EQ(GetACP(), 932u);
  qxplatform::ResetControls();
  EXPECT_EQ(GetACP(), 1252u);
}

TEST_F(CodePageTest, WesternSpecialsAndUndefinedBytes) {
  const char text[] = "\x80\x81\x8d\x8f\x90\x9d\x9f\xe9";
  std::u16string wide = ToWide(1252, text, 8);
  EXPECT_EQ(wide, std::u16string(
                      u"\u20AC\u0081\u008D\u008F\u0090\u009D\u0178\u00E9"));
  char back[16];
  int count = WideCharToMultiByte(1252, 0, wide.data(), 8, back, sizeof(back),
                                  nullptr, nullptr);
  ASSERT_EQ(count, 8);
  EXPECT_EQ(memcmp(back, text, 8), 0);
}

TEST_F(CodePageTest, JapaneseTextRoundTrips) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  std::u16string wide = ToWide(CP_ACP, kJapaneseText);
  EXPECT_EQ(wide, std::u16string(kJapaneseWide, 5));  // with the zero
  char back[32];
  BOOL usedDefault = TRUE;
  int count = WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, back,
                                  sizeof(back), nullptr, &usedDefault);
  EXPECT_EQ(count, 9);
  EXPECT_STREQ(back, kJapaneseText);
  EXPECT_FALSE(usedDefault);
}

TEST_F(CodePageTest, ExplicitJapaneseCodePageWorksUnderWesternAnsi) {
  EXPECT_EQ(ToWide(932, kJapaneseText), std::u16string(kJapaneseWide, 5));
  EXPECT_TRUE(IsDBCSLeadByteEx(932, 0x93));
  EXPECT_FALSE(IsDBCSLeadByte(0x93));
}

TEST_F(CodePageTest, JapaneseLeadBytes) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  for (int b : {0x81, 0x9F, 0xE0, 0xFC}) EXPECT_TRUE(IsDBCSLeadByte(b)) << b;
  for (int b : {0x00, 0x5C, 0x80, 0xA0, 0xA1, 0xDF, 0xFD})
    EXPECT_FALSE(IsDBCSLeadByte(b)) << b;
  EXPECT_FALSE(IsDBCSLeadByteEx(1252, 0x93));
  SetLastError(0);
  EXPECT_FALSE(IsDBCSLeadByteEx(1251, 0x93));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(CodePageTest, LeadByteAtTheEndReadsAsTheDefaultCharacter) {
  EXPECT_EQ(ToWide(932, "a\x93", 2), std::u16string(u"a\u30FB"));
  WCHAR buffer[8];
  SetLastError(0);
  EXPECT_EQ(
      MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "a\x93", 2, buffer, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST_F(CodePageTest, SizeQueryCountsTheTerminatorOnlyWhenAsked) {
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, nullptr, 0), 3);
  EXPECT_EQ(
      WideCharToMultiByte(CP_ACP, 0, u"abc", -1, nullptr, 0, nullptr, nullptr),
      4);
  EXPECT_EQ(WideCharToMultiByte(932, 0, kJapaneseWide, 4, nullptr, 0, nullptr,
                                nullptr),
            8);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9\u20AC", 2, nullptr, 0,
                                nullptr, nullptr),
            5);
}

TEST_F(CodePageTest, TooSmallBufferFailsWithInsufficientBuffer) {
  WCHAR wide[3];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  char narrow[3];
  SetLastError(0);
  EXPECT_EQ(
      WideCharToMultiByte(CP_ACP, 0, u"abc", -1, narrow, 3, nullptr, nullptr),
      0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(CodePageTest, BadParametersAndFlagsAreRefused) {
  WCHAR wide[8];
  char narrow[8];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wide, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(1251, 0, "a", -1, wide, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0x100, "a", -1, wide, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", -1, wide, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  SetLastError(0);
  EXPECT_EQ(
      WideCharToMultiByte(CP_ACP, 0, u"a", -1, narrow, -2, nullptr, nullptr),
      0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, narrow, 8, "?", nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, u"a", -1, narrow,
                                8, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}

TEST_F(CodePageTest, UnmappableCharactersBecomeTheDefaultCharacter) {
  char narrow[16];
  BOOL usedDefault = FALSE;
  int count = WideCharToMultiByte(1252, 0, u"a\u65E5b", -1, narrow,
                                  sizeof(narrow), nullptr, &usedDefault);
  EXPECT_EQ(count, 4);
  EXPECT_STREQ(narrow, "a?b");
  EXPECT_TRUE(usedDefault);
  count = WideCharToMultiByte(1252, 0, u"\U0001F600", -1, narrow,
                              sizeof(narrow), "*", &usedDefault);
  EXPECT_EQ(count, 2);  // one character, one default
  EXPECT_STREQ(narrow, "*");
}

TEST_F(CodePageTest, Utf8InvalidSequences) {
  EXPECT_EQ(ToWide(CP_UTF8, "a\xC3\xA9\xF0\x9F\x98\x80"),
            std::u16string(u"a\u00E9\U0001F600", 5));
  EXPECT_EQ(ToWide(CP_UTF8,
                   "a\xC0\xAF"
                   "b"),
            std::u16string(u"a\uFFFD\uFFFDb", 5));
  WCHAR wide[8];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xED\xA0\x80",
                                -1, wide, 8),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  char narrow[8];
  const WCHAR loneSurrogate[] = {0xD800, 0};
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, loneSurrogate,
                                -1, narrow, 8, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, loneSurrogate, -1, narrow, 8,
                                nullptr, nullptr),
            4);
  EXPECT_STREQ(narrow, "\xEF\xBF\xBD");
}

TEST_F(CodePageTest, ThreadCodePageIsTheAnsiCodePage) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  WCHAR wide[8];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, kJapaneseText, -1, wide, 8), 5);
  char narrow[16];
  ASSERT_EQ(WideCharToMultiByte(CP_THREAD_ACP, 0, wide, -1, narrow, 16, nullptr,
                                nullptr),
            9);
  EXPECT_STREQ(narrow, kJapaneseText);
}

}  // namespace
