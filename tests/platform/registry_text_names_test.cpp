// Names the .reg writer could not put back are refused when read and when
// made: a registry that loads, or that a program has written, can always be
// saved.
#include "support/platform_fixture.h"

using RegistryTextNamesTest = PlatformTest;

TEST_F(RegistryTextNamesTest, LineBreakInANameIsRefusedAndChangesNothing) {
  std::string error;
  for (const char* body : {"[HKEY_CLASSES_ROOT\\a\rb]\r\n",
                           "[HKEY_CLASSES_ROOT\\a]\r\n\"x\ry\"=\"v\"\r\n"}) {
    EXPECT_FALSE(qxplatform::ImportRegistryText(
        std::string("Windows Registry Editor Version 5.00\r\n\r\n") + body,
        &error))
        << body;
  }
  std::string text;
  EXPECT_TRUE(qxplatform::ExportRegistryText(/*key=*/nullptr, &text, &error))
      << error;
  EXPECT_EQ(text.find("[HKEY_CLASSES_ROOT\\a"), std::string::npos);
}

TEST_F(RegistryTextNamesTest, LineBreakInANameIsRefusedWhereItIsMade) {
  for (const char* path : {"a\rb", "a\nb", "ok\\a\r\nb", "a\r\\ok"}) {
    HKEY key = reinterpret_cast<HKEY>(1);
    DWORD disposition = 0;
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, /*lpClass=*/nullptr, 0,
                        KEY_ALL_ACCESS,
                        /*lpSecurityAttributes=*/nullptr, &key, &disposition),
        ERROR_INVALID_PARAMETER)
        << path;
    EXPECT_EQ(key, nullptr) << path;
  }
  // Nothing was made, not even the levels before the one refused.
  EXPECT_FALSE(qxplatform::RegistryChanged());

  HKEY key = CreateKey(HKEY_CURRENT_USER, "Values");
  const BYTE data[] = "v";
  for (const char* name : {"x\ry", "x\ny", "\r"}) {
    EXPECT_EQ(RegSetValueExA(key, name, 0, REG_SZ, data, sizeof(data)),
              ERROR_INVALID_PARAMETER)
        << name;
  }
  EXPECT_EQ(RegSetValueExA(key, "x y", 0, REG_SZ, data, sizeof(data)),
            ERROR_SUCCESS);
  RegCloseKey(key);

  // What was kept can be saved and read back.
  std::string text;
  std::string error;
  ASSERT_TRUE(qxplatform::ExportRegistryText(/*key=*/nullptr, &text, &error))
      << error;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Values]\r\n\"x y\"=\"v\""),
            std::string::npos)
      << text;
  ASSERT_TRUE(qxplatform::ImportRegistryText(text, &error)) << error;
}
