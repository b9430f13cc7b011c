// Registry access rights, keys that refuse write access, invalid handles,
// the create and close failure controls, the handle count and concurrent
// use of the store.
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "support/platform_fixture.h"

namespace {

class RegistryAccessTest : public PlatformTest {
 protected:
  LSTATUS CreateStatus(HKEY parent, const char* path, REGSAM access) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(parent, path, 0, nullptr, 0, access,
                                     nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status;
  }
  LSTATUS OpenStatus(HKEY parent, const char* path, REGSAM access) {
    HKEY key = reinterpret_cast<HKEY>(0x1);
    LSTATUS status = RegOpenKeyExA(parent, path, 0, access, &key);
    if (status == ERROR_SUCCESS) {
      RegCloseKey(key);
    } else {
      EXPECT_EQ(key, nullptr);
    }
    return status;
  }
  LSTATUS SetDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }
  bool Exists(HKEY parent, const char* path) {
    return OpenStatus(parent, path, KEY_READ) == ERROR_SUCCESS;
  }
};

// ---- rights of a handle -----------------------------------------------------

TEST_F(RegistryAccessTest, ReadHandleCannotWrite) {
  RegCloseKey(CreateKey(HKEY_CLASSES_ROOT, "Key\\Existing"));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Key", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(SetDword(key, "v", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CreateStatus(key, "New", KEY_ALL_ACCESS), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "Key\\New"));
  // Opening an existing key through RegCreateKeyExA needs no create right.
  EXPECT_EQ(CreateStatus(key, "Existing", KEY_READ), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryAccessTest, EachOperationChecksItsOwnRight) {
  HKEY full = CreateKey(HKEY_CLASSES_ROOT, "Key\\Sub");
  ASSERT_EQ(SetDword(full, "v", 7), ERROR_SUCCESS);
  RegCloseKey(full);
  char name[64];
  DWORD length = sizeof(name);

  HKEY setOnly = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Key", 0, KEY_SET_VALUE, &setOnly),
            ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(setOnly, "v", nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegEnumKeyExA(setOnly, 0, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetDword(setOnly, "w", 1), ERROR_SUCCESS);
  RegCloseKey(setOnly);

  HKEY queryOnly = nullptr;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_CLASSES_ROOT, "Key", 0, KEY_QUERY_VALUE, &queryOnly),
      ERROR_SUCCESS);
  EXPECT_EQ(RegEnumKeyExA(queryOnly, 0, name, &length, nullptr, nullptr,
                          nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(
      RegQueryValueExA(queryOnly, "w", nullptr, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(queryOnly);

  HKEY enumOnly = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Key", 0, KEY_ENUMERATE_SUB_KEYS,
                          &enumOnly),
            ERROR_SUCCESS);
  EXPECT_EQ(RegEnumKeyExA(enumOnly, 0, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_SUCCESS);
  DWORD count = 0;
  EXPECT_EQ(
      RegQueryInfoKeyA(enumOnly, nullptr, nullptr, nullptr, &count, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
      ERROR_ACCESS_DENIED);
  RegCloseKey(enumOnly);
}

// ---- keys that refuse write access
// --------------------------------------------

TEST_F(RegistryAccessTest, DeniedKeyRefusesEveryRightBeyondRead) {
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "Locked", true);
  EXPECT_EQ(OpenStatus(HKEY_CLASSES_ROOT, "Locked", KEY_READ), ERROR_SUCCESS);
  for (REGSAM right :
       {static_cast<REGSAM>(KEY_ALL_ACCESS), static_cast<REGSAM>(KEY_WRITE),
        static_cast<REGSAM>(KEY_SET_VALUE),
        static_cast<REGSAM>(KEY_CREATE_SUB_KEY), static_cast<REGSAM>(DELETE),
        static_cast<REGSAM>(WRITE_DAC), static_cast<REGSAM>(WRITE_OWNER),
        static_cast<REGSAM>(GENERIC_WRITE),
        static_cast<REGSAM>(KEY_READ | KEY_WRITE)}) {
    EXPECT_EQ(OpenStatus(HKEY_CLASSES_ROOT, "Locked", right),
              ERROR_ACCESS_DENIED)
        << std::hex << right;
    EXPECT_EQ(CreateStatus(HKEY_CLASSES_ROOT, "Locked", right),
              ERROR_ACCESS_DENIED)
        << std::hex << right;
  }
}

TEST_F(RegistryAccessTest, DeniedKeyCannotGainSubkeysOrBeDeleted) {
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "Outer\\Locked", true);
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Outer\\Locked"));  // made for us
  EXPECT_EQ(
      CreateStatus(HKEY_CLASSES_ROOT, "Outer\\Locked\\New", KEY_ALL_ACCESS),
      ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "Outer\\Locked\\New"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Outer\\Locked"),
            ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Outer\\Locked"));
  // Its parent is not affected.
  EXPECT_EQ(CreateStatus(HKEY_CLASSES_ROOT, "Outer\\Free", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
}

TEST_F(RegistryAccessTest, MaximumAllowedOnDeniedKeyGivesReadOnly) {
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "Locked", true);
  HKEY key = nullptr;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_CLASSES_ROOT, "Locked", 0, MAXIMUM_ALLOWED, &key),
      ERROR_SUCCESS);
  EXPECT_EQ(SetDword(key, "v", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryAccessTest, DenyIsLiftedExplicitlyOrByResetControls) {
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "Locked", true);
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "Locked", false);
  EXPECT_EQ(OpenStatus(HKEY_CLASSES_ROOT, "Locked", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  qxplatform::DenyWriteAccess(HKEY_CLASSES_ROOT, "Locked", true);
  qxplatform::ResetControls();
  EXPECT_EQ(OpenStatus(HKEY_CLASSES_ROOT, "Locked", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Locked"), ERROR_SUCCESS);
}

// ---- invalid handles
// ------------------------------------------------------------

TEST_F(RegistryAccessTest, GarbageHandlesAreRefusedEverywhere) {
  HKEY closed = CreateKey(HKEY_CLASSES_ROOT, "Key");
  RegCloseKey(closed);
  char stackByte = 0;
  const HKEY garbage[] = {nullptr,
                          reinterpret_cast<HKEY>(1),
                          reinterpret_cast<HKEY>(0x12345678),
                          reinterpret_cast<HKEY>(&stackByte),
                          closed,
                          HKEY_CURRENT_CONFIG,
                          HKEY_PERFORMANCE_DATA,
                          reinterpret_cast<HKEY>(static_cast<intptr_t>(
                              static_cast<LONG>(0x80000007)))};
  for (HKEY bad : garbage) {
    HKEY out = nullptr;
    char name[16];
    DWORD length = sizeof(name);
    DWORD count = 0;
    DWORD value = 0;
    EXPECT_EQ(RegOpenKeyExA(bad, "Key", 0, KEY_READ, &out),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyExA(bad, "Key", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &out, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteKeyA(bad, "Key"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteValueA(bad, "v"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegEnumKeyExA(bad, 0, name, &length, nullptr, nullptr, nullptr,
                            nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegEnumValueA(bad, 0, name, &length, nullptr, nullptr, nullptr,
                            nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(
        RegQueryInfoKeyA(bad, nullptr, nullptr, nullptr, &count, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(bad, "v", nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(bad, "v", value), ERROR_INVALID_HANDLE);
  }
  EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x12345678)),
            ERROR_INVALID_HANDLE);
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Key"));
}

TEST_F(RegistryAccessTest, ClosingAPredefinedRootSucceedsAndKeepsIt) {
  RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, "Key"));
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), ERROR_SUCCESS);
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, "Key"));
}

// ---- failure controls and the handle count
// ----------------------------------------

TEST_F(RegistryAccessTest, FailRegCreateAtFailsExactlyTheNthCreate) {
  qxplatform::FailRegCreateAt(2);
  EXPECT_EQ(CreateStatus(HKEY_CLASSES_ROOT, "First", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  HKEY key = reinterpret_cast<HKEY>(0x1);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Second", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_CANTWRITE);
  EXPECT_EQ(key, nullptr);
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "Second"));
  EXPECT_EQ(CreateStatus(HKEY_CLASSES_ROOT, "Second", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0);
}

TEST_F(RegistryAccessTest, FailedCloseLeavesTheHandleOpen) {
  HKEY first = CreateKey(HKEY_CLASSES_ROOT, "First");
  HKEY second = CreateKey(HKEY_CLASSES_ROOT, "Second");
  qxplatform::FailRegCloseAt(2);
  // Roots do not count towards the countdown.
  EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(second), ERROR_INVALID_HANDLE);
  EXPECT_EQ(qxplatform::OpenRegistryHandles(), 1);
  EXPECT_EQ(RegQueryValueExA(second, "v", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);  // still a working handle
  EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
  EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0);
}

TEST_F(RegistryAccessTest, HandleCountFollowsOpensAndCloses) {
  EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0);
  HKEY a = CreateKey(HKEY_CLASSES_ROOT, "a");
  HKEY b = nullptr;
  ASSERT_EQ(RegOpenKeyExA(a, nullptr, 0, KEY_READ, &b), ERROR_SUCCESS);
  EXPECT_EQ(OpenStatus(HKEY_CLASSES_ROOT, "missing", KEY_READ),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(qxplatform::OpenRegistryHandles(), 2);
  RegCloseKey(a);
  RegCloseKey(b);
  EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0);
}

TEST_F(RegistryAccessTest, ConcurrentWritersLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kKeysPerThread = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kKeysPerThread; ++i) {
        std::string path = "T" + std::to_string(t) + "\\K" + std::to_string(i);
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
          continue;
        DWORD value = static_cast<DWORD>(i);
        RegSetValueExA(key, "i", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&value), sizeof(value));
        RegCloseKey(key);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_CURRENT_USER, ("T" + std::to_string(t)).c_str(), 0,
                      KEY_READ, &key),
        ERROR_SUCCESS);
    DWORD count = 0;
    EXPECT_EQ(
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(count, static_cast<DWORD>(kKeysPerThread));
    RegCloseKey(key);
  }
  EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0);
}

}  // namespace
