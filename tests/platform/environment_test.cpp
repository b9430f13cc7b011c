// ExpandEnvironmentStringsA: %NAME% becomes the variable's value, a name
// that is not set stays as written, and the answer is the size the result
// needs, terminator included, whether or not the buffer could hold it.
#include <stdlib.h>
#include <windows.h>

#include <string>

#include "support/platform_fixture.h"

namespace {

class EnvironmentTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ASSERT_EQ(setenv("QX_ENV_TEST_DIR", "/opt/qx", /*overwrite=*/1), 0);
    unsetenv("QX_ENV_TEST_UNSET");
  }
  void TearDown() override {
    unsetenv("QX_ENV_TEST_DIR");
    PlatformTest::TearDown();
  }

  static std::string Expanded(const char* text) {
    char buffer[256];
    DWORD size = ExpandEnvironmentStringsA(text, buffer, sizeof(buffer));
    EXPECT_NE(size, 0u) << text;
    EXPECT_LE(size, sizeof(buffer)) << text;
    if (size == 0 || size > sizeof(buffer)) return "<failed>";
    EXPECT_EQ(size, strlen(buffer) + 1) << text;
    return buffer;
  }
};

TEST_F(EnvironmentTest, SetNamesAreReplacedAndOthersStayAsWritten) {
  EXPECT_EQ(Expanded("%QX_ENV_TEST_DIR%/lib/server.dll"),
            "/opt/qx/lib/server.dll");
  // Names are matched without regard to case, as Windows matches them.
  EXPECT_EQ(Expanded("%qx_env_test_dir%"), "/opt/qx");
  EXPECT_EQ(Expanded("%QX_ENV_TEST_UNSET%/x"), "%QX_ENV_TEST_UNSET%/x");
  // The % that closes an unset name may open the next one.
  EXPECT_EQ(Expanded("%QX_ENV_TEST_UNSET%QX_ENV_TEST_DIR%"),
            "%QX_ENV_TEST_UNSET/opt/qx");
  EXPECT_EQ(Expanded("50% of %QX_ENV_TEST_DIR%"), "50% of /opt/qx");
  EXPECT_EQ(Expanded("%%"), "%%");
  EXPECT_EQ(Expanded("100%"), "100%");
  EXPECT_EQ(Expanded(""), "");
}

TEST_F(EnvironmentTest, ShortBufferGetsTheSizeNeededAndIsLeftAlone) {
  const char* text = "%QX_ENV_TEST_DIR%/a";
  const DWORD needed = sizeof("/opt/qx/a");
  EXPECT_EQ(ExpandEnvironmentStringsA(text, nullptr, 0), needed);
  char buffer[16];
  memset(buffer, 'z', sizeof(buffer));
  EXPECT_EQ(ExpandEnvironmentStringsA(text, buffer, needed - 1), needed);
  EXPECT_EQ(buffer[0], 'z');
  EXPECT_EQ(ExpandEnvironmentStringsA(text, buffer, needed), needed);
  EXPECT_STREQ(buffer, "/opt/qx/a");
  EXPECT_EQ(buffer[needed], 'z');  // nothing written past the terminator
}

TEST_F(EnvironmentTest, MissingArgumentsAreRefused) {
  char buffer[8];
  SetLastError(0);
  EXPECT_EQ(ExpandEnvironmentStringsA(nullptr, buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(ExpandEnvironmentStringsA("x", nullptr, 8), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
