// How script text is cut into tokens: the white space set, quoting, braces
// and "=" glued to words, the size limits of the token buffer, and
// double-byte text whose trail bytes look like quotes, braces or
// backslashes. Also the root key, type letter and never-delete names.
#include <string>
#include <vector>

#include "registrar/script_parser.h"
#include "registrar/script_tables.h"
#include "registrar_fixture.h"

namespace {

class TokenizerTest : public RegistrarTest {
 protected:
  // Every token of text, then the status that ended the reading
  // (DISP_E_EXCEPTION at the end of the text when all went well).
  std::vector<std::string> Tokens(const std::string& text, HRESULT* last) {
    ScriptParser parser(nullptr);
    parser.Start(text.c_str());
    std::vector<std::string> tokens;
    char token[kTokenBufferSize];
    for (;;) {
      const HRESULT hr = parser.ReadToken(token);
      if (FAILED(hr)) {
        *last = hr;
        m_stoppedAt = static_cast<size_t>(parser.Position() - text.c_str());
        return tokens;
      }
      tokens.emplace_back(token);
    }
  }
  std::vector<std::string> Tokens(const std::string& text) {
    HRESULT last = S_OK;
    std::vector<std::string> tokens = Tokens(text, &last);
    EXPECT_EQ(last, DISP_E_EXCEPTION);  // the end of the text
    EXPECT_EQ(m_stoppedAt, text.size());
    return tokens;
  }
  size_t m_stoppedAt = 0;
};

using Strings = std::vector<std::string>;

TEST_F(TokenizerTest, TabCarriageReturnLineFeedAndSpaceSeparate) {
  EXPECT_EQ(Tokens("a\tb\rc\nd e  \t\r\n f"),
            (Strings{"a", "b", "c", "d", "e", "f"}));
}

TEST_F(TokenizerTest, FormFeedAndVerticalTabAreText) {
  EXPECT_EQ(Tokens("a\fb c\vd"), (Strings{"a\fb", "c\vd"}));
}

TEST_F(TokenizerTest, BracesAndEqualsAreTokensOnlyBetweenWhiteSpace) {
  EXPECT_EQ(Tokens("Key{ } = s 'v' name=s {x}"),
            (Strings{"Key{", "}", "=", "s", "v", "name=s", "{x}"}));
}

TEST_F(TokenizerTest, QuotedTokenDropsItsQuotesAndUndoublesQuotes) {
  EXPECT_EQ(Tokens("'a b' 'it''s' '' ''''"), (Strings{"a b", "it's", "", "'"}));
}

TEST_F(TokenizerTest, QuotedTokenEndsAtItsClosingQuoteEvenAgainstText) {
  EXPECT_EQ(Tokens("'abc'def 'x'=y"), (Strings{"abc", "def", "x", "=y"}));
}

TEST_F(TokenizerTest, UnclosedQuoteFails) {
  HRESULT last = S_OK;
  EXPECT_EQ(Tokens("a 'never closed", &last), Strings{"a"});
  EXPECT_EQ(last, DISP_E_EXCEPTION);
}

TEST_F(TokenizerTest, QuotedTokenOf4094BytesIsReadAnd4095Fails) {
  const std::string fits(4094, 'q');
  EXPECT_EQ(Tokens("'" + fits + "'"), Strings{fits});

  HRESULT last = S_OK;
  EXPECT_TRUE(Tokens("'" + fits + "q'", &last).empty());
  EXPECT_EQ(last, DISP_E_EXCEPTION);
}

TEST_F(TokenizerTest, DoubledQuotesCountOnceTowardTheQuotedLimit) {
  const std::string text = std::string(4093, 'q') + "''";
  EXPECT_EQ(Tokens("'" + text + "'"), Strings{std::string(4093, 'q') + "'"});
}

TEST_F(TokenizerTest, UnquotedTokenOf4095BytesIsReadAnd4096Fails) {
  const std::string fits(4095, 'u');
  EXPECT_EQ(Tokens(fits + " x"), (Strings{fits, "x"}));

  HRESULT last = S_OK;
  EXPECT_TRUE(Tokens(fits + "u x", &last).empty());
  EXPECT_EQ(last, DISP_E_EXCEPTION);
}

TEST_F(TokenizerTest, SmallerBufferRefusesWhatDoesNotFit) {
  ScriptParser parser(nullptr);
  char name[8];
  parser.Start("1234567 12345678");
  EXPECT_EQ(parser.ReadToken(name), S_OK);
  EXPECT_STREQ(name, "1234567");
  EXPECT_EQ(parser.ReadToken(name), DISP_E_EXCEPTION);
  // A quoted token fits a small buffer as far as an unquoted one does.
  parser.Start("'1234567' '12345678'");
  EXPECT_EQ(parser.ReadToken(name), S_OK);
  EXPECT_STREQ(name, "1234567");
  EXPECT_EQ(parser.ReadToken(name), DISP_E_EXCEPTION);
}

TEST_F(TokenizerTest, EmptyOrBlankTextHasNoToken) {
  HRESULT last = S_OK;
  EXPECT_TRUE(Tokens("", &last).empty());
  EXPECT_EQ(last, DISP_E_EXCEPTION);
  EXPECT_TRUE(Tokens(" \t\r\n", &last).empty());
  EXPECT_EQ(last, DISP_E_EXCEPTION);
}

TEST_F(TokenizerTest, ValueClauseIsSkippedWithTheTokenBehindIt) {
  ScriptParser parser(nullptr);
  char token[kTokenBufferSize] = "=";
  parser.Start(" s 'a value' next");
  EXPECT_EQ(parser.SkipValueClause(token), S_OK);
  EXPECT_STREQ(token, "next");

  char plain[kTokenBufferSize] = "name";
  parser.Start(" s");
  EXPECT_EQ(parser.SkipValueClause(plain), S_OK);
  EXPECT_STREQ(plain, "name");
  EXPECT_EQ(*parser.Position(), ' ');

  char clause[kTokenBufferSize] = "=";
  parser.Start(" s 'v'");
  EXPECT_EQ(parser.SkipValueClause(clause), DISP_E_EXCEPTION);
}

// 0x95 0x5C, 0x83 0x7B and 0x81 0x27 are double-byte characters of code
// page 932 whose trail bytes are "\", "{" and "'" in single-byte text.
TEST_F(TokenizerTest, CodePage932TrailBytesStayInsideTheirCharacter) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  EXPECT_EQ(Tokens("'\x95\x5C\x83\x7B\x81\x27' \x81\x27x"),
            (Strings{"\x95\x5C\x83\x7B\x81\x27", "\x81\x27x"}));
}

TEST_F(TokenizerTest, CodePage1252HasNoDoubleByteCharacters) {
  EXPECT_EQ(Tokens("'\x81'' \x95\x5C'"), Strings{"\x81' \x95\x5C"});
}

TEST_F(TokenizerTest, CodePage932QuotedLimitKeepsDoubleByteCharactersWhole) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  // 4093 bytes, then one double-byte character: 4095 bytes in the buffer.
  const std::string text = std::string(4093, 'q') + "\x95\x5C";
  EXPECT_EQ(Tokens("'" + text + "'"), Strings{text});
  HRESULT last = S_OK;
  EXPECT_TRUE(Tokens("'" + text + "q'", &last).empty());
  EXPECT_EQ(last, DISP_E_EXCEPTION);
}

TEST_F(TokenizerTest, LeadByteBeforeTheEndStopsAtTheTerminator) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  EXPECT_EQ(Tokens("ab\x95"), Strings{"ab\x95"});
  HRESULT last = S_OK;
  EXPECT_TRUE(Tokens("'ab\x95", &last).empty());
  EXPECT_EQ(last, DISP_E_EXCEPTION);
  EXPECT_EQ(m_stoppedAt, 4u);
}

TEST_F(TokenizerTest, RootKeyNamesInAnyCase) {
  EXPECT_EQ(FindRootKey("HKCR"), HKEY_CLASSES_ROOT);
  EXPECT_EQ(FindRootKey("hkcr"), HKEY_CLASSES_ROOT);
  EXPECT_EQ(FindRootKey("HKEY_CLASSES_ROOT"), HKEY_CLASSES_ROOT);
  EXPECT_EQ(FindRootKey("hkey_local_machine"), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(FindRootKey("HKCU"), HKEY_CURRENT_USER);
  EXPECT_EQ(FindRootKey("HKU"), HKEY_USERS);
  EXPECT_EQ(FindRootKey("HKPD"), HKEY_PERFORMANCE_DATA);
  EXPECT_EQ(FindRootKey("HKDD"), HKEY_DYN_DATA);
  EXPECT_EQ(FindRootKey("HKCC"), HKEY_CURRENT_CONFIG);
  EXPECT_EQ(FindRootKey("HKEY_CURRENT_CONFIG"), HKEY_CURRENT_CONFIG);
  EXPECT_EQ(FindRootKey("HKEY_DYN_DATA"), HKEY_DYN_DATA);
  EXPECT_EQ(FindRootKey("HKCR{"), nullptr);
  EXPECT_EQ(FindRootKey("HKEY_CLASSES"), nullptr);
  EXPECT_EQ(FindRootKey(""), nullptr);
}

TEST_F(TokenizerTest, TypeLettersInAnyCase) {
  VARTYPE type = VT_EMPTY;
  EXPECT_TRUE(FindValueType("s", &type));
  EXPECT_EQ(type, VT_BSTR);
  EXPECT_TRUE(FindValueType("D", &type));
  EXPECT_EQ(type, VT_UI4);
  EXPECT_TRUE(FindValueType("b", &type));
  EXPECT_EQ(type, VT_UI1);
  type = VT_EMPTY;
  EXPECT_FALSE(FindValueType("x", &type));
  EXPECT_FALSE(FindValueType("SZ", &type));
  EXPECT_EQ(type, VT_EMPTY);
}

TEST_F(TokenizerTest, NeverDeleteListIgnoresCase) {
  EXPECT_TRUE(IsOnNeverDeleteList("CLSID"));
  EXPECT_TRUE(IsOnNeverDeleteList("clsid"));
  EXPECT_TRUE(IsOnNeverDeleteList("TypeLib"));
  EXPECT_FALSE(IsOnNeverDeleteList("Interface"));
  EXPECT_FALSE(IsOnNeverDeleteList("CLSID2"));
}

}  // namespace
