// Class ids as text and ProgIDs: malformed text never reads past its end
// and leaves CLSID_NULL, and a ProgID comes back as a task allocation.
#include <objbase.h>

#include <string>

#include "support/platform_fixture.h"

namespace {

constexpr char16_t kClassText[] = u"{EC68AD82-001E-4396-9CDC-ED264E512EE4}";

class ClassNamesTest : public PlatformTest {};

TEST_F(ClassNamesTest, ClassIdTextRoundTripsAndMalformedTextIsRefused) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromString(kClassText, &clsid), S_OK);
  EXPECT_EQ(clsid.Data1, 0xEC68AD82u);
  EXPECT_EQ(clsid.Data4[7], 0xE4);
  OLECHAR text[39];
  EXPECT_EQ(StringFromGUID2(clsid, text, 38), 0);
  ASSERT_EQ(StringFromGUID2(clsid, text, 39), 39);
  EXPECT_EQ(std::u16string(text), kClassText);

  const char16_t* const kMalformed[] = {
      u"",
      u"{",
      u"{EC68AD82",
      u"EC68AD82-001E-4396-9CDC-ED264E512EE4",
      u"{EC68AD82-001E-4396-9CDC-ED264E512EE4",
      u"{EC68AD82-001E-4396-9CDC-ED264E512EE4}x",
      u"{EC68AD82-001E-4396-9CDC_ED264E512EE4}",
      u"{EC68AD82-001E-4396-9CDC-ED264E512EG4}"};
  for (const char16_t* bad : kMalformed) {
    // Exactly as long as the text, so that an overrun is caught.
    std::u16string copy(bad);
    CLSID parsed = clsid;
    EXPECT_EQ(CLSIDFromString(copy.c_str(), &parsed), CO_E_CLASSSTRING);
    EXPECT_EQ(parsed, GUID{});
  }
}

TEST_F(ClassNamesTest, ProgIdsBothWays) {
  Import(
      "[HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex\\CLSID]\r\n"
      "@=\"{EC68AD82-001E-4396-9CDC-ED264E512EE4}\"\r\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}\\"
      "ProgID]\r\n@=\"QxKorvex.InstallKorvex.1\"\r\n"
      "[HKEY_CLASSES_ROOT\\Broken.Class\\CLSID]\r\n@=\"not a class id\"\r\n");
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"qxkorvex.installkorvex", &clsid), S_OK);
  EXPECT_EQ(clsid.Data1, 0xEC68AD82u);
  EXPECT_EQ(CLSIDFromProgID(u"Unknown.Class", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Broken.Class", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(
      CLSIDFromProgID(u"CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}", &clsid),
      CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);

  ASSERT_EQ(CLSIDFromString(kClassText, &clsid), S_OK);
  long blocksBefore = qxplatform::LiveTaskBlocks();
  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(clsid, &progId), S_OK);
  EXPECT_EQ(std::u16string(progId), u"QxKorvex.InstallKorvex.1");
  CoTaskMemFree(progId);
  EXPECT_EQ(qxplatform::LiveTaskBlocks(), blocksBefore);

  clsid.Data1 = 1;
  progId = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(ProgIDFromCLSID(clsid, &progId), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progId, nullptr);
}

// CLSIDFromString reads text without a leading brace as a ProgID, as the
// system's runtime does, through HKEY_CLASSES_ROOT\<ProgID>\CLSID.
TEST_F(ClassNamesTest, ClassIdFromStringAnswersARegisteredProgId) {
  Import(
      "[HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex\\CLSID]\r\n"
      "@=\"{EC68AD82-001E-4396-9CDC-ED264E512EE4}\"\r\n"
      "[HKEY_CLASSES_ROOT\\Loop.A\\CLSID]\r\n@=\"Loop.B\"\r\n"
      "[HKEY_CLASSES_ROOT\\Loop.B\\CLSID]\r\n@=\"Loop.A\"\r\n");
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromString(u"QxKorvex.InstallKorvex", &clsid), S_OK);
  EXPECT_EQ(clsid.Data1, 0xEC68AD82u);
  EXPECT_EQ(clsid.Data4[7], 0xE4);

  // A ProgID whose class is named by another ProgID names no class, and
  // is not followed round.
  EXPECT_EQ(CLSIDFromString(u"Loop.A", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(clsid, GUID{});
  clsid.Data1 = 1;
  EXPECT_EQ(CLSIDFromString(u"Unknown.Class", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(clsid, GUID{});
  // A brace string is never a ProgID, even a malformed one.
  EXPECT_EQ(CLSIDFromString(u"{QxKorvex.InstallKorvex}", &clsid),
            CO_E_CLASSSTRING);
}

}  // namespace
