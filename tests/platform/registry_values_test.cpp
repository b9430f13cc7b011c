// Registry values: ANSI text stored as UTF-16 and handed back in the code
// page, names compared without case, the default value, data sizes, and the
// buffers of the enumeration and query calls.
#include <windows.h>

#include <cstring>
#include <string>

#include "support/platform_fixture.h"

namespace {

class RegistryValuesTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Values", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &m_key, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(m_key);
    PlatformTest::TearDown();
  }
  LSTATUS Set(const char* name, DWORD type, const std::string& data) {
    return RegSetValueExA(m_key, name, 0, type,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size()));
  }
  // The value's data as the ANSI query returns it, or "<status>".
  std::string Query(const char* name, DWORD* type = nullptr) {
    DWORD size = 0;
    LSTATUS status =
        RegQueryValueExA(m_key, name, nullptr, type, nullptr, &size);
    if (status != ERROR_SUCCESS) return "<" + std::to_string(status) + ">";
    std::string data(size, '\0');
    status = RegQueryValueExA(m_key, name, nullptr, type,
                              reinterpret_cast<BYTE*>(&data[0]), &size);
    if (status != ERROR_SUCCESS) return "<" + std::to_string(status) + ">";
    data.resize(size);
    return data;
  }
  std::string Export() {
    std::string text;
    EXPECT_TRUE(qxplatform::ExportRegistryText("HKCR\\Values", &text, nullptr));
    return text;
  }

  HKEY m_key = nullptr;
};

// ---- text data
// ----------------------------------------------------------------

TEST_F(RegistryValuesTest, TextIsStoredAsUtf16AndReturnedInTheCodePage) {
  ASSERT_EQ(Set("Text", REG_SZ, std::string("caf\xE9", 5)), ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(Query("Text", &type), std::string("caf\xE9", 5));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_NE(Export().find("\"Text\"=\"caf\xC3\xA9\""), std::string::npos);
}

TEST_F(RegistryValuesTest, Cp932TextRoundTrips) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  const std::string text("\x83\x5C\x95\x5C", 5);  // U+30BD U+8868 and a zero
  ASSERT_EQ(Set("Text", REG_SZ, text), ERROR_SUCCESS);
  EXPECT_EQ(Query("Text"), text);
  EXPECT_NE(Export().find("\"Text\"=\"\xE3\x82\xBD\xE8\xA1\xA8\""),
            std::string::npos);
}

TEST_F(RegistryValuesTest, TextWithoutTerminatorIsStoredAsGiven) {
  ASSERT_EQ(Set("Bare", REG_SZ, "abc"), ERROR_SUCCESS);
  EXPECT_EQ(Query("Bare"), "abc");
  EXPECT_NE(Export().find("\"Bare\"=hex(1):61,00,62,00,63,00"),
            std::string::npos)
      << Export();
}

TEST_F(RegistryValuesTest, MultiStringKeepsEveryZero) {
  const std::string multi("one\0two\0\0", 9);
  ASSERT_EQ(Set("Multi", REG_MULTI_SZ, multi), ERROR_SUCCESS);
  ASSERT_EQ(Set("Expand", REG_EXPAND_SZ, std::string("%PATH%\0", 7)),
            ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(Query("Multi", &type), multi);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(Query("Expand", &type), std::string("%PATH%\0", 7));
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
}

// ---- other data
// -----------------------------------------------------------------

TEST_F(RegistryValuesTest, BinaryDataIsStoredByteForByte) {
  const std::string bytes("\x00\xFF\x5C\x83", 4);
  ASSERT_EQ(Set("Bin", REG_BINARY, bytes), ERROR_SUCCESS);
  ASSERT_EQ(Set("Short", REG_DWORD, std::string("\x01\x02", 2)), ERROR_SUCCESS);
  ASSERT_EQ(Set("Empty", REG_BINARY, ""), ERROR_SUCCESS);
  EXPECT_EQ(Query("Bin"), bytes);
  EXPECT_EQ(Query("Short"), std::string("\x01\x02", 2));
  EXPECT_EQ(Query("Empty"), "");
}

TEST_F(RegistryValuesTest, NullDataWithNonZeroSizeIsRefused) {
  EXPECT_EQ(RegSetValueExA(m_key, "v", 0, REG_BINARY, nullptr, 4),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Query("v"), "<2>");
}

// ---- names
// ---------------------------------------------------------------------

TEST_F(RegistryValuesTest, NamesIgnoreCaseAndKeepTheFirstSpelling) {
  ASSERT_EQ(Set("Name", REG_SZ, std::string("1\0", 2)), ERROR_SUCCESS);
  ASSERT_EQ(Set("NAME", REG_SZ, std::string("2\0", 2)), ERROR_SUCCESS);
  EXPECT_EQ(Query("name"), std::string("2\0", 2));
  char name[16];
  DWORD length = sizeof(name);
  ASSERT_EQ(RegEnumValueA(m_key, 0, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, length), "Name");
  length = sizeof(name);
  EXPECT_EQ(RegEnumValueA(m_key, 1, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegDeleteValueA(m_key, "nAmE"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(m_key, "Name"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValuesTest, NullAndEmptyNameAreTheDefaultValue) {
  ASSERT_EQ(Set(nullptr, REG_SZ, std::string("d\0", 2)), ERROR_SUCCESS);
  EXPECT_EQ(Query(""), std::string("d\0", 2));
  EXPECT_NE(Export().find("@=\"d\""), std::string::npos);
  EXPECT_EQ(RegDeleteValueA(m_key, ""), ERROR_SUCCESS);
  EXPECT_EQ(Query(nullptr), "<2>");
}

TEST_F(RegistryValuesTest, ValueNameLimitIs16383) {
  std::string longest(16383, 'v');
  EXPECT_EQ(Set(longest.c_str(), REG_BINARY, "x"), ERROR_SUCCESS);
  std::string tooLong(16384, 'v');
  EXPECT_EQ(Set(tooLong.c_str(), REG_BINARY, "x"), ERROR_INVALID_PARAMETER);
  DWORD count = 0;
  ASSERT_EQ(
      RegQueryInfoKeyA(m_key, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, &count, nullptr, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(count, 1u);
}

// ---- buffers
// ---------------------------------------------------------------------

TEST_F(RegistryValuesTest, QueryReportsSizeAndMoreData) {
  ASSERT_EQ(Set("Text", REG_SZ, std::string("hello\0", 6)), ERROR_SUCCESS);
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExA(m_key, "Text", nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);
  char small[4] = {'#', '#', '#', '#'};
  size = sizeof(small);
  EXPECT_EQ(RegQueryValueExA(m_key, "Text", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(small), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(RegQueryValueExA(m_key, "Text", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(small), nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(
      RegQueryValueExA(m_key, "Missing", nullptr, nullptr, nullptr, nullptr),
      ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValuesTest, EnumValueBuffers) {
  ASSERT_EQ(Set("First", REG_BINARY, "12345678"), ERROR_SUCCESS);
  ASSERT_EQ(Set("Second", REG_SZ, std::string("xy\0", 3)), ERROR_SUCCESS);
  char name[8];
  DWORD length = 5;  // "First" needs 6 with its terminator
  DWORD type = 0;
  BYTE data[4];
  DWORD size = sizeof(data);
  EXPECT_EQ(RegEnumValueA(m_key, 0, name, &length, nullptr, &type, data, &size),
            ERROR_MORE_DATA);
  length = 6;
  EXPECT_EQ(RegEnumValueA(m_key, 0, name, &length, nullptr, &type, data, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);  // the size the data needs
  EXPECT_EQ(length, 5u);
  EXPECT_STREQ(name, "First");
  length = sizeof(name);
  size = 0;
  ASSERT_EQ(
      RegEnumValueA(m_key, 1, name, &length, nullptr, &type, nullptr, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  length = sizeof(name);
  size = sizeof(data);
  ASSERT_EQ(RegEnumValueA(m_key, 1, name, &length, nullptr, &type, data, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::memcmp(data, "xy\0", 3), 0);
  length = sizeof(name);
  EXPECT_EQ(RegEnumValueA(m_key, 2, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryValuesTest, EnumValuesInTheOrderTheyWereSet) {
  for (const char* name : {"z", "a", "m"})
    ASSERT_EQ(Set(name, REG_BINARY, "x"), ERROR_SUCCESS);
  ASSERT_EQ(Set("a", REG_BINARY, "y"), ERROR_SUCCESS);  // keeps its place
  std::string order;
  char name[8];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof(name);
    if (RegEnumValueA(m_key, i, name, &length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS)
      break;
    order += name;
  }
  EXPECT_EQ(order, "zam");
}

TEST_F(RegistryValuesTest, EnumKeyBuffers) {
  HKEY child = nullptr;
  ASSERT_EQ(RegCreateKeyExA(m_key, "Child", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &child, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(child);
  char name[8];
  DWORD length = 5;
  EXPECT_EQ(RegEnumKeyExA(m_key, 0, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_MORE_DATA);
  length = 6;
  FILETIME written{};
  ASSERT_EQ(RegEnumKeyExA(m_key, 0, name, &length, nullptr, nullptr, nullptr,
                          &written),
            ERROR_SUCCESS);
  EXPECT_EQ(length, 5u);
  EXPECT_STREQ(name, "Child");
  EXPECT_NE(written.dwHighDateTime, 0u);
  DWORD reserved = 0;
  length = sizeof(name);
  EXPECT_EQ(RegEnumKeyExA(m_key, 0, name, &length, &reserved, nullptr, nullptr,
                          nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegEnumKeyExA(m_key, 1, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryValuesTest, QueryInfoFillsOnlyWhatIsAskedFor) {
  ASSERT_TRUE(qxplatform::SetAnsiCodePage(932));
  HKEY child = nullptr;
  ASSERT_EQ(RegCreateKeyExA(m_key, "\x83\x5C\x83\x5C", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(child);
  ASSERT_EQ(Set("abc", REG_SZ, std::string("12345\0", 6)), ERROR_SUCCESS);
  ASSERT_EQ(Set("x", REG_BINARY, "1"), ERROR_SUCCESS);
  DWORD subkeys = 99, maxSubkey = 99, values = 99, maxName = 99, maxData = 99;
  ASSERT_EQ(
      RegQueryInfoKeyA(m_key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey,
                       nullptr, &values, &maxName, &maxData, nullptr, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 1u);
  // At least what an ANSI caller needs, without the zero (4 bytes); the
  // store keeps the name's stored length (6), enough in any code page.
  EXPECT_GE(maxSubkey, 4u);
  EXPECT_LE(maxSubkey, 6u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxName, 3u);
  EXPECT_GE(maxData, 6u);
  DWORD onlyValues = 99;
  ASSERT_EQ(RegQueryInfoKeyA(m_key, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &onlyValues, nullptr, nullptr, nullptr,
                             nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(onlyValues, 2u);
}

}  // namespace
