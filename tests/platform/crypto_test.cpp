// The provider probe: verification contexts of providers installed in the
// registry, every status of a missing or damaged provider, bad flags, and
// releasing contexts.
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "support/platform_fixture.h"

namespace {

constexpr char kProvider[] = "Selvane Korvex for RDKV CSP v1.0";
constexpr char kProviderKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\"
    "Provider\\Selvane Korvex for RDKV CSP v1.0";

class CryptoTest : public PlatformTest {
 protected:
  void InstallProvider(const char* typeLine = "\"Type\"=dword:00000001") {
    Import(std::string("[") + kProviderKey + "]\r\n" + typeLine + "\r\n");
  }
  // The last error of a failed acquire, or 0 when it succeeded (the context
  // is released again).
  DWORD Acquire(LPCSTR provider, DWORD type, DWORD flags) {
    HCRYPTPROV handle = 0;
    SetLastError(0);
    if (CryptAcquireContextA(&handle, nullptr, provider, type, flags)) {
      EXPECT_NE(handle, 0u);
      EXPECT_TRUE(CryptReleaseContext(handle, 0));
      return 0;
    }
    EXPECT_EQ(handle, 0u);
    return GetLastError();
  }
};

TEST_F(CryptoTest, InstalledProviderGivesAVerificationContext) {
  InstallProvider();
  HCRYPTPROV handle = 0;
  ASSERT_TRUE(CryptAcquireContextA(&handle, nullptr, kProvider, PROV_RSA_FULL,
                                   CRYPT_VERIFYCONTEXT));
  EXPECT_NE(handle, 0u);
  HCRYPTPROV second = 0;
  ASSERT_TRUE(CryptAcquireContextA(&second, nullptr, kProvider, PROV_RSA_FULL,
                                   CRYPT_VERIFYCONTEXT | CRYPT_SILENT));
  EXPECT_NE(second, handle);
  EXPECT_TRUE(CryptReleaseContext(handle, 0));
  EXPECT_TRUE(CryptReleaseContext(second, 0));
}

TEST_F(CryptoTest, ProviderNameIgnoresCase) {
  InstallProvider();
  EXPECT_EQ(Acquire("selvane korvex for rdkv csp V1.0", PROV_RSA_FULL,
                    CRYPT_VERIFYCONTEXT),
            0u);
}

TEST_F(CryptoTest, MissingProviderIsKeysetNotDefined) {
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_KEYSET_NOT_DEF);
  EXPECT_EQ(
      static_cast<HRESULT>(Acquire("", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
      NTE_KEYSET_NOT_DEF);
}

TEST_F(CryptoTest, DamagedTypeEntryIsReported) {
  InstallProvider("\"Other\"=dword:00000001");
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_PROV_TYPE_ENTRY_BAD);
  InstallProvider("\"Type\"=\"1\"");
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_PROV_TYPE_ENTRY_BAD);
  InstallProvider("\"Type\"=hex(4):01,00");
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_PROV_TYPE_ENTRY_BAD);
}

TEST_F(CryptoTest, OtherTypeDoesNotMatch) {
  InstallProvider("\"Type\"=dword:00000018");
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_PROV_TYPE_NO_MATCH);
  EXPECT_EQ(Acquire(kProvider, PROV_RSA_AES, CRYPT_VERIFYCONTEXT), 0u);
}

TEST_F(CryptoTest, NullProviderUsesTheDefaultOfTheType) {
  InstallProvider();
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_PROV_TYPE_NOT_DEF);
  Import(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\"
      "Provider Types\\Type 001]\r\n"
      "\"Name\"=\"Selvane Korvex for RDKV CSP v1.0\"\r\n");
  EXPECT_EQ(Acquire(nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT), 0u);
  EXPECT_EQ(
      static_cast<HRESULT>(Acquire(nullptr, PROV_RSA_SIG, CRYPT_VERIFYCONTEXT)),
      NTE_PROV_TYPE_NOT_DEF);
}

TEST_F(CryptoTest, DeniedProviderKeyIsStillFound) {
  InstallProvider();
  const std::string path =
      std::string("SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\") +
      kProvider;
  qxplatform::DenyWriteAccess(HKEY_LOCAL_MACHINE, path.c_str(), true);
  EXPECT_EQ(Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT), 0u);
}

TEST_F(CryptoTest, FlagsAreChecked) {
  InstallProvider();
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | 0x1)),
            NTE_BAD_FLAGS);
  EXPECT_EQ(
      static_cast<HRESULT>(Acquire(kProvider, PROV_RSA_FULL,
                                   CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET)),
      NTE_BAD_FLAGS);
  EXPECT_EQ(Acquire(kProvider, PROV_RSA_FULL,
                    CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET | CRYPT_SILENT),
            0u);
  // No key containers exist here.
  EXPECT_EQ(static_cast<HRESULT>(Acquire(kProvider, PROV_RSA_FULL, 0)),
            NTE_BAD_KEYSET);
}

TEST_F(CryptoTest, NullHandlePointerIsInvalidParameter) {
  InstallProvider();
  SetLastError(0);
  EXPECT_FALSE(CryptAcquireContextA(nullptr, nullptr, kProvider, PROV_RSA_FULL,
                                    CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(CryptoTest, ReleaseOfUnknownHandleFailsHarmlessly) {
  SetLastError(0);
  EXPECT_FALSE(CryptReleaseContext(0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(CryptReleaseContext(0x1234, 0));
}

TEST_F(CryptoTest, ReleaseWithFlagsFailsButStillReleases) {
  InstallProvider();
  HCRYPTPROV handle = 0;
  ASSERT_TRUE(CryptAcquireContextA(&handle, nullptr, kProvider, PROV_RSA_FULL,
                                   CRYPT_VERIFYCONTEXT));
  SetLastError(0);
  EXPECT_FALSE(CryptReleaseContext(handle, 1));
  EXPECT_EQ(static_cast<HRESULT>(GetLastError()), NTE_BAD_FLAGS);
  SetLastError(0);
  EXPECT_FALSE(CryptReleaseContext(handle, 0));  // already gone
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
