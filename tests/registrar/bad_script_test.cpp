// Scripts that are malformed or hostile get a clear status and never make
// the registrar overrun a buffer, truncate a name, act on a different key or
// exhaust the stack.
#include <string>

#include "registrar_fixture.h"

namespace {

class BadScriptTest : public RegistrarTest {
 protected:
  // depth nested blocks of keys named "k", under one root block.
  static std::string Nested(int depth) {
    std::string text = "HKCR {";
    for (int i = 1; i < depth; ++i) text += " k {";
    for (int i = 0; i < depth; ++i) text += " }";
    return text;
  }
};

TEST_F(BadScriptTest, MissingTokensAndBracesFail) {
  EXPECT_EQ(Register("HKCR"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR A"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { A"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { A {"), DISP_E_EXCEPTION);
  EXPECT_EQ(Unregister("HKCR { A"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("Software { }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("\f"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { ForceRemove"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { NoRemove"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { val"), DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  ExpectNothingHeld();
}

// A run that stops says where: the line and column of the token it stopped
// at, the token as written, and what the script should have held there.
TEST_F(BadScriptTest, StopIsPlacedAtItsTokenWithWhatWasWanted) {
  struct Case {
    const char* text;
    bool doRegister;
    ScriptExpectation expected;
    unsigned line;
    unsigned column;
    const char* token;
  };
  using E = ScriptExpectation;
  const Case cases[] = {
      {"HKXX { }", true, E::kRootKey, 1, 1, "HKXX"},
      {"HKCR\r\n[ ]", true, E::kOpenBrace, 2, 1, "["},
      {"HKCR {\n  A {\n    val B  s 'x'\n  }\n}", true, E::kEquals, 3, 12,
       "s"},
      {"HKCR {\n  A = q 1\n}", true, E::kValueType, 2, 7, "q"},
      {"HKCR { A = s 'open\n}", true, E::kClosingQuote, 1, 14, "'open"},
      {"HKCR { A {", false, E::kMoreText, 1, 11, ""},
      {"HKCR { { }", true, E::kEntry, 1, 8, "{"},
      {"HKCR { Delete A { } }", false, E::kNoBlockAfterDelete, 1, 17, "{"},
      {"HKCR { A = b 123 }", true, E::kEvenHexDigits, 1, 14, "123"},
      {"HKCR { A = s '%Nope%' }", true, E::kKnownVariable, 1, 15, "%Nope%"},
      {"HKCR { 'a\\b' }", true, E::kKeyName, 1, 8, "'a\\b'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_TRUE(FAILED(c.doRegister ? Register(c.text) : Unregister(c.text)));
    EXPECT_EQ(m_where.expected, c.expected);
    EXPECT_EQ(m_where.line, c.line);
    EXPECT_EQ(m_where.column, c.column);
    EXPECT_STREQ(m_where.token, c.token);
  }
  EXPECT_EQ(Register("HKCR { A = s 'fine' }"), S_OK);
  EXPECT_EQ(m_where.line, 0u);
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, KeyNameWithABackslashFailsInBothModes) {
  Import("[HKEY_CLASSES_ROOT\\A\\B]\r\n");
  EXPECT_EQ(Register("HKCR { A\\B }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { ForceRemove A\\B }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { Delete 'A\\B' }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Unregister("HKCR { A\\B }"), DISP_E_EXCEPTION);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "A\\B"));
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, DoubleByteNameWhoseTrailByteIsABackslashIsOneLevel) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  EXPECT_EQ(Register("HKCR { '\x95\x5C' = s '\x83\x5C' { \x83\x7B } }"), S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "\x95\x5C"), "\x83\x5C");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "\x95\x5C\\\x83\x7B"));
  EXPECT_EQ(Unregister("HKCR { \x95\x5C { \x83\x7B } }"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "\x95\x5C"));
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, EmptyKeyNameIsRefusedRatherThanNamingTheParent) {
  Import("[HKEY_CLASSES_ROOT\\Parent\\Child]\r\n");
  EXPECT_EQ(Register("HKCR { Parent { ForceRemove '' } }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { Parent { Delete '' } }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { Parent { '' = s 'x' } }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Unregister("HKCR { Parent { '' } }"), DISP_E_EXCEPTION);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Parent\\Child"));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Parent"), "<missing>");
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, KeyNameAfterAModifierCannotCloseTheBlock) {
  Import("[HKEY_CLASSES_ROOT\\}]\r\n");
  EXPECT_EQ(Register("HKCR { ForceRemove } }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { NoRemove } }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { ForceRemove { }"), DISP_E_EXCEPTION);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "}"));
}

TEST_F(BadScriptTest, KeyNameLongerThanItsCopyIsRefusedNotTruncated) {
  const std::string prefix(255, 'k');
  Import("[HKEY_CLASSES_ROOT\\" + prefix + "]\r\n");
  const std::string longName = prefix + std::string(5, 'k');  // 260 bytes
  EXPECT_EQ(Unregister("HKCR { " + longName + " }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { ForceRemove " + longName + " }"),
            DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { Delete " + longName + " }"), DISP_E_EXCEPTION);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, prefix));
  // 259 bytes fit the copy; the registry itself has no such key.
  EXPECT_EQ(Unregister("HKCR { " + prefix + "kkkk }"), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, prefix));
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, ValueNameLongerThanItsBufferIsRefusedNotTruncated) {
  const std::string fits(259, 'v');
  EXPECT_EQ(Register("HKCR { K { val " + fits + " = s 'x' } }"), S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "K", fits.c_str()), "x");

  EXPECT_EQ(Register("HKCR { L { val " + fits + "w = s 'x' } }"),
            DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "L"));
  EXPECT_EQ(Unregister("HKCR { K { val " + fits + "w = s 'x' } }"),
            DISP_E_EXCEPTION);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "K", fits.c_str()), "x");
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, QuotedValueNameFitsItsBufferAsAnUnquotedOneDoes) {
  const std::string fits(259, 'q');
  EXPECT_EQ(Register("HKCR { M { val '" + fits + "' = s 'x' } }"), S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "M", fits.c_str()), "x");
  EXPECT_EQ(Register("HKCR { N { val '" + fits + "q' = s 'x' } }"),
            DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "N"));

  // A double-byte character goes in whole or not at all.
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  const std::string prefix(257, 'q');
  EXPECT_EQ(Register("HKCR { O { val '" + prefix + "\x95\x5C' = s 'x' } }"),
            S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "O", (prefix + "\x95\x5C").c_str()),
            "x");
  EXPECT_EQ(Register("HKCR { P { val '" + prefix + "q\x95\x5C' = s 'x' } }"),
            DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "P"));
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, OverlongTokensAreRefused) {
  const std::string unquoted(5000, 'x');
  EXPECT_EQ(Register("HKCR { K = s " + unquoted + " }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { K = s '" + unquoted + "' }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register(unquoted), DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "K"));
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, NestingIsBoundedInsteadOfExhaustingTheStack) {
  EXPECT_EQ(Unregister(Nested(512)), S_OK);
  EXPECT_EQ(Unregister(Nested(513)), DISP_E_EXCEPTION);
  EXPECT_EQ(Register(Nested(100000)), DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "k"));
  ExpectNothingHeld();
}

// A block nested past the limit fails where it is found, and the keys
// created above it are taken back; the text behind the failed root block
// (here naming HKCR\\HKCU) is never acted on, whatever the entries inside
// the block look like (a value named "{", a key named "=x").
TEST_F(BadScriptTest, TooDeepBlockTakesBackOnlyWhatItCreated) {
  for (const char* entries : {" val { = s x", " =x = s {"}) {
    qxplatform::ResetRegistry();
    Import("[HKEY_CLASSES_ROOT\\HKCU]\r\n");
    std::string text = "HKCR {";
    for (int i = 1; i < 513; ++i) text += " k {";
    text += entries;
    for (int i = 0; i < 513; ++i) text += " }";
    text += " HKCU { }";
    EXPECT_EQ(Register(text), DISP_E_EXCEPTION) << entries;
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "HKCU")) << entries;
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "k")) << entries;
  }
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, DeepButBoundedNestingRegistersAndUnregisters) {
  ASSERT_EQ(Register(Nested(200)), S_OK);
  std::string path = "k";
  for (int i = 2; i < 199; ++i) path += "\\k";
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, path));
  EXPECT_EQ(Unregister(Nested(200)), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "k"));
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, BlockAfterAValueEntryIsASyntaxError) {
  EXPECT_EQ(Register("HKCR { K { val V = s 'x' { Inner } } }"),
            DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "K"));
  Import("[HKEY_CLASSES_ROOT\\K\\Inner]\r\n");
  EXPECT_EQ(Unregister("HKCR { K { val V = s 'x' { Inner } } }"),
            DISP_E_EXCEPTION);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "K\\Inner"));
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, BlockAfterADeleteEntryIsASyntaxErrorInBothModes) {
  Import("[HKEY_CLASSES_ROOT\\D\\Inner]\r\n\r\n[HKEY_CLASSES_ROOT\\Other]\r\n");
  EXPECT_EQ(Register("HKCR { Delete D { Other } }"), DISP_E_EXCEPTION);
  // The delete ran before the block was seen and is taken back with the
  // failed root block; the block wrote nothing.
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "D\\Inner"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Other"));
  EXPECT_EQ(Unregister("HKCR { Delete D { Inner } }"), DISP_E_EXCEPTION);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "D\\Inner"));
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, SecondBlockAfterAKeyIsASyntaxError) {
  EXPECT_EQ(Register("HKCR { K { A } { B } }"), DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "K"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "B"));
  EXPECT_EQ(Register("HKCR { { } }"), DISP_E_EXCEPTION);
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, LeadByteAtTheEndOfTheTextStopsAtTheTerminator) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  EXPECT_EQ(Register("HKCR { A } \x95"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { A }\x95"), S_OK);  // "}\x95" closes the block
  EXPECT_EQ(Register("HKCR { A = s 'x\x95"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { A\x95"), DISP_E_EXCEPTION);
  // The byte behind a lead byte is its trail byte, even a quote or a blank.
  EXPECT_EQ(Register("HKCR { A = s 'x\x95' }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { A = s x\x95 }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { A = s 'x\x95'' }"), S_OK);
  ExpectNothingHeld();
}

TEST_F(BadScriptTest, GluedClosingBraceEndsTheBlock) {
  EXPECT_EQ(Register("HKCR { A }junk"), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  EXPECT_EQ(Register("HKCR { B }} HKCR { C }"), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "C"));
}

}  // namespace
