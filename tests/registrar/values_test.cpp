// The three value types a script writes: text (REG_SZ with its zero),
// numbers (REG_DWORD; text that is no number writes 0), and hexadecimal
// digits (REG_BINARY; an odd count fails, other bytes count as 0).
#include <vector>

#include "registrar/value_writer.h"
#include "registrar_fixture.h"

namespace {

class ValuesTest : public RegistrarTest {
 protected:
  // Registers "HKCR { K { val V = <clause> } }" and reads V back.
  void RegisterValue(const std::string& clause, DWORD* type,
                     std::vector<BYTE>* data) {
    ASSERT_EQ(Register("HKCR { K { val V = " + clause + " } }"), S_OK);
    ASSERT_TRUE(ReadValue(HKEY_CLASSES_ROOT, "K", "V", type, data));
  }
  DWORD RegisterNumber(const std::string& text) {
    DWORD type = 0;
    std::vector<BYTE> data;
    RegisterValue("d " + text, &type, &data);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(data.size(), 4u);
    DWORD number = 0xFFFFFFFF;
    if (data.size() == 4) memcpy(&number, data.data(), 4);
    return number;
  }
  std::vector<BYTE> RegisterBinary(const std::string& text) {
    DWORD type = 0;
    std::vector<BYTE> data;
    RegisterValue("b " + text, &type, &data);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    return data;
  }
};

TEST_F(ValuesTest, TextIsStoredWithItsTerminatingZero) {
  DWORD type = 0;
  std::vector<BYTE> data;
  RegisterValue("s 'it''s'", &type, &data);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(data, (std::vector<BYTE>{'i', 't', '\'', 's', 0}));
}

TEST_F(ValuesTest, EmptyTextIsAZeroByte) {
  DWORD type = 0;
  std::vector<BYTE> data;
  RegisterValue("S ''", &type, &data);
  EXPECT_EQ(data, std::vector<BYTE>{0});
}

TEST_F(ValuesTest, DefaultValueOfAKey) {
  EXPECT_EQ(Register("HKCR { K = s 'default' }"), S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "K"), "default");
}

TEST_F(ValuesTest, NumberIsStoredAsADword) {
  EXPECT_EQ(RegisterNumber("4096"), 0x1000u);
  EXPECT_EQ(RegisterNumber("'4294967295'"), 0xFFFFFFFFu);
  EXPECT_EQ(RegisterNumber("0"), 0u);
}

TEST_F(ValuesTest, NumberThatDoesNotConvertIsStoredAsZero) {
  EXPECT_EQ(RegisterNumber("many"), 0u);
  EXPECT_EQ(RegisterNumber("''"), 0u);
  EXPECT_EQ(RegisterNumber("4294967296"), 0u);
  EXPECT_EQ(RegisterNumber("-1"), 0u);
}

TEST_F(ValuesTest, BinaryDigitPairsBecomeBytes) {
  EXPECT_EQ(RegisterBinary("0aFF"), (std::vector<BYTE>{0x0A, 0xFF}));
  EXPECT_EQ(
      RegisterBinary("0123456789abcdef"),
      (std::vector<BYTE>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
}

TEST_F(ValuesTest, NonDigitsCountAsZero) {
  EXPECT_EQ(RegisterBinary("zz"), std::vector<BYTE>{0x00});
  EXPECT_EQ(RegisterBinary("g1"), std::vector<BYTE>{0x01});
}

TEST_F(ValuesTest, EmptyBinaryIsAValueOfNoBytes) {
  EXPECT_TRUE(RegisterBinary("''").empty());
}

TEST_F(ValuesTest, OddDigitCountFailsAndWritesNothing) {
  EXPECT_EQ(Register("HKCR { K = s 'k' { val V = b 0aF } }"), E_FAIL);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "K"));
  ExpectNothingHeld();
}

TEST_F(ValuesTest, LongestBinaryValueFitsItsBuffer) {
  const std::string digits(4094, 'f');
  const std::vector<BYTE> data = RegisterBinary("'" + digits + "'");
  EXPECT_EQ(data, std::vector<BYTE>(2047, 0xFF));
}

TEST_F(ValuesTest, UnknownTypeLetterFails) {
  EXPECT_EQ(Register("HKCR { K = x 'v' }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { K = sz 'v' }"), DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "K"));
  ExpectNothingHeld();
}

TEST_F(ValuesTest, ValueClauseWithoutItsValueFails) {
  EXPECT_EQ(Register("HKCR { K = s"), DISP_E_EXCEPTION);
  EXPECT_EQ(Register("HKCR { K ="), DISP_E_EXCEPTION);
  EXPECT_EQ(Unregister("HKCR { val V ="), DISP_E_EXCEPTION);
  ExpectNothingHeld();
}

TEST_F(ValuesTest, ValueNameMustBeFollowedByEquals) {
  EXPECT_EQ(Register("HKCR { K { val V s 'x' } }"), DISP_E_EXCEPTION);
  EXPECT_EQ(Unregister("HKCR { val V s 'x' }"), DISP_E_EXCEPTION);
}

TEST_F(ValuesTest, HexDigitValueOfDigitsAndTheBytesAroundThem) {
  const struct {
    char digit;
    BYTE value;
  } kCases[] = {{'0', 0},  {'9', 9},  {'a', 10},   {'f', 15},
                {'A', 10}, {'F', 15}, {'/', 0},    {':', 0},
                {'@', 0},  {'G', 0},  {'`', 0},    {'g', 0},
                {' ', 0},  {'\0', 0}, {'\xC1', 0}, {'\xE6', 0}};
  for (const auto& c : kCases) {
    EXPECT_EQ(HexDigitValue(c.digit), c.value) << static_cast<int>(c.digit);
  }
}

}  // namespace
