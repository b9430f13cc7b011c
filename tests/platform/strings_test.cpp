// Character stepping and comparison over ANSI text: a double-byte character
// is one step and is never compared or matched by halves.
#include <windows.h>

#include "support/platform_fixture.h"

namespace {

class StringsTest : public PlatformTest {};

// "ソ" (0x83 0x5C) then a real backslash, in 932.
constexpr char kTrailBackslashText[] = "\x83\x5c\\x";

TEST_F(StringsTest, TrailByteBackslashIsNotSeenWhenWalkingByCharacter) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  int backslashes = 0;
  int characters = 0;
  for (const char* p = kTrailBackslashText; *p != '\0'; p = CharNextA(p)) {
    ++characters;
    if (*p == '\\') ++backslashes;
  }
  EXPECT_EQ(characters, 3);
  EXPECT_EQ(backslashes, 1);
}

TEST_F(StringsTest, CharNextAStopsAtTheTerminatorAndSplitsNoPairAtTheEnd) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  const char empty[] = "";
  EXPECT_EQ(CharNextA(empty), empty);
  const char leadAtEnd[] = "\x83";
  EXPECT_EQ(CharNextA(leadAtEnd), leadAtEnd + 1);
  qxplatform::ResetControls();
  EXPECT_EQ(CharNextA(kTrailBackslashText), kTrailBackslashText + 1);
}

TEST_F(StringsTest, CharPrevAStepsBackOverWholeCharacters) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  const char* text = kTrailBackslashText;
  EXPECT_EQ(CharPrevA(text, text + 2), text);
  EXPECT_EQ(CharPrevA(text, text + 3), text + 2);
  EXPECT_EQ(CharPrevA(text, text), text);
}

TEST_F(StringsTest, LengthsTreatNullAsEmpty) {
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrlenA("abc"), 3);
  EXPECT_EQ(lstrlenW(u"abcd"), 4);
}

TEST_F(StringsTest, CompareIgnoringCase) {
  EXPECT_EQ(lstrcmpiA("HKEY_LOCAL_MACHINE", "hkey_local_machine"), 0);
  EXPECT_EQ(lstrcmpiA("Module", "MODULE"), 0);
  EXPECT_LT(lstrcmpiA("abc", "ABD"), 0);
  EXPECT_GT(lstrcmpiA("abcd", "ABC"), 0);
  EXPECT_EQ(lstrcmpiA("\xe9t\xe9", "\xc9T\xc9"), 0);  // é and É in 1252
  EXPECT_NE(lstrcmpA("Module", "MODULE"), 0);
  EXPECT_EQ(lstrcmpA("same", "same"), 0);
}

TEST_F(StringsTest, NullSortsBeforeAnyText) {
  EXPECT_EQ(lstrcmpiA(nullptr, nullptr), 0);
  EXPECT_LT(lstrcmpiA(nullptr, ""), 0);
  EXPECT_GT(lstrcmpiA("", nullptr), 0);
  EXPECT_LT(lstrcmpA(nullptr, "a"), 0);
}

TEST_F(StringsTest, DoubleByteCharactersAreComparedWhole) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  // Fullwidth "ａ" (0x82 0x81) and "Ａ" (0x82 0x60) are one character each,
  // equal without regard to case; compared by bytes they would differ.
  EXPECT_EQ(lstrcmpiA("x\x82\x81", "X\x82\x60"), 0);
  // "０" (0x82 0x4F) and "Ｐ" (0x82 0x6F): trail bytes that are "O" and "o"
  // alone, which a comparison by bytes would take as equal.
  EXPECT_NE(lstrcmpiA("\x82\x4f", "\x82\x6f"), 0);
}

}  // namespace
