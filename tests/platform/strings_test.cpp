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

// Text that starts out as plain ASCII and goes on in the code page: the
// start is compared without conversion, and what follows it must still be
// compared as characters, not bytes.
TEST_F(StringsTest, AsciiStartThenWesternCharactersComparesByCharacter) {
  EXPECT_EQ(lstrcmpiA("abc\xe9", "ABC\xc9"), 0);
  EXPECT_LT(lstrcmpiA("abc", "ABC\xe9"), 0);
  EXPECT_GT(lstrcmpiA("ab\xe9", "AB"), 0);
  EXPECT_LT(lstrcmpiA("aB", "a\xe9"), 0);
  // "€" (0x80) is a symbol and sorts before the letter "ÿ" (0xFF), which
  // folds to "Ÿ" (U+0178).
  EXPECT_LT(lstrcmpiA("a\x80", "A\xff"), 0);
  EXPECT_LT(lstrcmpA("a\x80", "a\xff"), 0);
  EXPECT_EQ(lstrcmpiA("\xff", "\x9f"), 0);
}

// The user locale's word sort, not byte order: letters by letter first,
// case and accents only to break a tie, lower case before upper case.
TEST_F(StringsTest, ComparisonFollowsTheLocalesWordSort) {
  // By bytes "B" (0x42) comes before "a" (0x61).
  EXPECT_LT(lstrcmpA("a", "B"), 0);
  EXPECT_LT(lstrcmpA("abc", "ABD"), 0);
  // Case breaks a tie only, lower case first.
  EXPECT_LT(lstrcmpA("a", "A"), 0);
  EXPECT_LT(lstrcmpA("ab", "Ab"), 0);
  EXPECT_LT(lstrcmpA("Ab", "ac"), 0);
  EXPECT_EQ(lstrcmpiA("Ab", "aB"), 0);
  // Accents too: "é" (0xE9) sorts with "e", after it and before "f".
  EXPECT_LT(lstrcmpA("e", "\xe9"), 0);
  EXPECT_LT(lstrcmpA("\xe9", "f"), 0);
  EXPECT_LT(lstrcmpA("\xe9" "a", "eb"), 0);
  EXPECT_LT(lstrcmpiA("\xc9" "a", "eB"), 0);
  // Punctuation before digits before letters.
  EXPECT_LT(lstrcmpA("_", "0"), 0);  // by bytes "_" (0x5F) is after "0"
  EXPECT_LT(lstrcmpA("9", "a"), 0);
  EXPECT_LT(lstrcmpA("~", "1"), 0);
  EXPECT_LT(lstrcmpA("a!", "a0"), 0);
  // The hyphen and the apostrophe are left out, so that "co-op" sorts
  // beside "coop"; they only break a tie.
  EXPECT_LT(lstrcmpA("co-op", "coop2"), 0);
  EXPECT_GT(lstrcmpA("co-op", "coo"), 0);
  EXPECT_LT(lstrcmpA("can't", "cant2"), 0);
  EXPECT_NE(lstrcmpA("co-op", "coop"), 0);
  EXPECT_GT(lstrcmpA("co-op", "coop"), 0);
  EXPECT_NE(lstrcmpiA("co-op", "COOP"), 0);
  // Letters the locale expands sort as their expansion: "ß" as "ss".
  EXPECT_LT(lstrcmpA("s\xdf", "sst"), 0);
  EXPECT_GT(lstrcmpA("s\xdf", "ssa"), 0);
  // "þ" (0xFE) after "z".
  EXPECT_GT(lstrcmpA("\xfe", "z"), 0);
}

// In code page 932 double-byte characters sort after the single-byte ones,
// by their code; the single-byte ones keep word sort.
TEST_F(StringsTest, WordSortUnderCodePage932) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  EXPECT_LT(lstrcmpA("a", "B"), 0);
  EXPECT_LT(lstrcmpA("_", "0"), 0);
  EXPECT_LT(lstrcmpA("co-op", "coop2"), 0);
  // "ｱ" (0xB1) after the Latin letters; "ア" (0x83 0x41) after "ｱ".
  EXPECT_LT(lstrcmpA("z", "\xb1"), 0);
  EXPECT_LT(lstrcmpA("\xb1", "\x83\x41"), 0);
  // "ア" (0x83 0x41) before "ソ" (0x83 0x5C) before "亜" (0x88 0x9F).
  EXPECT_LT(lstrcmpA("\x83\x41", "\x83\x5c"), 0);
  EXPECT_LT(lstrcmpA("\x83\x5c", "\x88\x9f"), 0);
  // Full-width "ａ" before "Ａ", and equal ignoring case.
  EXPECT_LT(lstrcmpA("\x82\x81", "\x82\x60"), 0);
  EXPECT_LT(lstrcmpA("\x82\x81", "\x82\x61"), 0);  // "ａ" before "Ｂ"
}

TEST_F(StringsTest, AsciiStartThenJapaneseCharactersComparesByCharacter) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  EXPECT_EQ(lstrcmpiA("Key\x83\x5c", "kEY\x83\x5c"), 0);
  // "ソ" (U+30BD) against a real backslash that is its trail byte alone.
  EXPECT_GT(lstrcmpiA("a\x83\x5c", "A\\"), 0);
  EXPECT_LT(lstrcmpiA("a\\", "A\x83\x5c"), 0);
  // Half-width "ｱ" (0xB1, U+FF71) sorts after any ASCII.
  EXPECT_GT(lstrcmpiA("a\xb1", "A~"), 0);
  // After a double-byte character, ASCII is compared with case folding.
  EXPECT_EQ(lstrcmpiA("\x83\x5c" "Abc", "\x83\x5c" "aBC"), 0);
  EXPECT_LT(lstrcmpiA("\x83\x5c" "a", "\x83\x5c" "B"), 0);
  // Fullwidth "ａ" and "Ａ" after an ASCII start.
  EXPECT_EQ(lstrcmpiA("x\x82\x81y", "X\x82\x60Y"), 0);
}

TEST_F(StringsTest, CharNextAStepsJapaneseTextAfterAsciiByWholeCharacters) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  const char text[] = "a\x83\x5c\\\xb1\x82\x60z";
  const char* expected[] = {text + 1, text + 3, text + 4, text + 5,
                            text + 7, text + 8, text + 8};
  const char* p = text;
  for (const char* next : expected) {
    p = CharNextA(p);
    EXPECT_EQ(p, next);
  }
  EXPECT_FALSE(IsDBCSLeadByte('\\'));
  EXPECT_TRUE(IsDBCSLeadByte(0x83));
}

}  // namespace
