// Names the .reg writer could not put back are refused when read: a
// registry that loads can always be saved.
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
