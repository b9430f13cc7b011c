// The provider probe: verification contexts of providers installed in the
// registry, every status of a missing or damaged provider, bad flags, and
// releasing contexts.
#include <windows.h>
#include <wincrypt.h>

#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/platform_fixture.h"

namespace {

constexpr char kProvider[] = "Selvane Korvex for RDKV CSP v1.0";
constexpr char kProviderSubkey[] =
    "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\"
    "Selvane Korvex for RDKV CSP v1.0";
constexpr char kProviderKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\"
    "Provider\\Selvane Korvex for RDKV CSP v1.0";

// An image that exists: the test program's own.
std::string ExistingImage() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : "";
}

class CryptoTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    m_savedCwd = std::filesystem::current_path();
  }
  void TearDown() override {
    std::filesystem::current_path(m_savedCwd);
    if (!m_dir.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(m_dir, ignored);
    }
    PlatformTest::TearDown();
  }

  // The provider's entry: a Type line and an image that exists.
  void InstallProvider(const char* typeLine = "\"Type\"=dword:00000001") {
    Import(std::string("[") + kProviderKey + "]\r\n" + typeLine +
           "\r\n\"Image Path\"=\"" + ExistingImage() + "\"\r\n");
  }
  // Replaces the entry's image path, or removes it for a null path.
  void SetImagePath(const char* path, DWORD type = REG_SZ) {
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, kProviderSubkey);
    if (path == nullptr) {
      RegDeleteValueA(key, "Image Path");
    } else {
      RegSetValueExA(key, "Image Path", 0, type,
                     reinterpret_cast<const BYTE*>(path),
                     static_cast<DWORD>(strlen(path) + 1));
    }
    RegCloseKey(key);
  }
  // A scratch directory, removed again by TearDown.
  std::string ScratchDirectory() {
    char pattern[] = "/tmp/qxcrypto.XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr);
    m_dir = pattern;
    return m_dir;
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

  std::string m_dir;
  std::filesystem::path m_savedCwd;
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

// The probe tells a registry it cannot read from a provider that is not
// there: the acquire fails with the registry's status, not an NTE_ code.
TEST_F(CryptoTest, UnreadableRegistryIsNotAMissingProvider) {
  InstallProvider();
  qxplatform::FailRegistryTransactionAt(1, ERROR_LOCK_VIOLATION);
  EXPECT_EQ(Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT),
            static_cast<DWORD>(ERROR_LOCK_VIOLATION));
  qxplatform::FailRegistryTransactionAt(1, ERROR_BADDB);
  EXPECT_EQ(Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT),
            static_cast<DWORD>(ERROR_BADDB));
  // The failure fired once: the provider is found again.
  EXPECT_EQ(Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT), 0u);
}

// Each of the probe's reads may be the one that fails: the name of the
// type's default, the provider's Type, its Image Path.
TEST_F(CryptoTest, EveryReadOfTheProbeReportsARegistryFailure) {
  InstallProvider();
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\"
         "Provider Types\\Type 001]\r\n\"Name\"=\"" +
         std::string(kProvider) + "\"\r\n");
  ASSERT_EQ(Acquire(nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT), 0u);
  for (long read = 1; read <= 3; ++read) {
    qxplatform::FailRegistryTransactionAt(read, ERROR_LOCK_VIOLATION);
    EXPECT_EQ(Acquire(nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT),
              static_cast<DWORD>(ERROR_LOCK_VIOLATION))
        << "read " << read;
  }
  qxplatform::FailRegistryTransactionAt(1, ERROR_LOCK_VIOLATION);
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire("Not Installed", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            static_cast<HRESULT>(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire("Not Installed", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
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

TEST_F(CryptoTest, ProviderWhoseImageIsMissingIsDllNotFound) {
  InstallProvider();
  const std::string dir = ScratchDirectory();
  SetImagePath((dir + "/korvex.dll").c_str());
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_PROV_DLL_NOT_FOUND);
  SetImagePath(dir.c_str());  // a directory is no image
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_PROV_DLL_NOT_FOUND);
  std::ofstream(dir + "/korvex.dll").close();
  SetImagePath((dir + "/korvex.dll").c_str());
  EXPECT_EQ(Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT), 0u);
}

TEST_F(CryptoTest, MissingOrDamagedImagePathIsABadEntry) {
  InstallProvider();
  SetImagePath(nullptr);
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_PROV_TYPE_ENTRY_BAD);
  SetImagePath("");
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_PROV_TYPE_ENTRY_BAD);
  Import(std::string("[") + kProviderKey +
         "]\r\n\"Image Path\"=dword:00000001\r\n");
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_PROV_TYPE_ENTRY_BAD);
}

// A bare name is looked for as the loader looks for a library: beside the
// program, then in the current directory.
TEST_F(CryptoTest, BareImageNameIsLookedForAsALibraryIs) {
  InstallProvider();
  const std::string dir = ScratchDirectory();
  std::ofstream(dir + "/qxkorvex-image.dll").close();
  SetImagePath("qxkorvex-image.dll");
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_PROV_DLL_NOT_FOUND);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  EXPECT_EQ(Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT), 0u);
}

TEST_F(CryptoTest, ExpandableImagePathIsExpandedFromTheEnvironment) {
  InstallProvider();
  const std::string dir = ScratchDirectory();
  std::ofstream(dir + "/korvex.dll").close();
  SetImagePath("%QX_CRYPTO_IMAGE_DIR%/korvex.dll", REG_EXPAND_SZ);
  unsetenv("QX_CRYPTO_IMAGE_DIR");
  EXPECT_EQ(static_cast<HRESULT>(
                Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)),
            NTE_PROV_DLL_NOT_FOUND);
  setenv("QX_CRYPTO_IMAGE_DIR", dir.c_str(), 1);
  EXPECT_EQ(Acquire(kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT), 0u);
  unsetenv("QX_CRYPTO_IMAGE_DIR");
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
