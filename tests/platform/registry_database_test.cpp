// The registry's database file as the platform opens it: what it refuses,
// handles across a change of database, enumeration that goes on while the
// key changes, a deep tree deleted whole, and threads writing and reading
// one database file at once.
#include <windows.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/platform_fixture.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

class RegistryDatabaseTest : public PlatformTest {
 protected:
  HKEY Create(HKEY parent, const std::string& path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    return key;
  }
  std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }
  void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string Open(const fs::path& path) {
    std::string error;
    return qxplatform::OpenRegistryDatabase(path.c_str(), &error) ? "" : error;
  }

  ScratchDirectory m_scratch{"qxregdb"};
  const fs::path m_dir = m_scratch.path();
};

TEST_F(RegistryDatabaseTest, WhatIsNoRegistryDatabaseIsRefusedAndLeftAlone) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n";
  Write(m_dir / "text.reg", text);
  std::string error = Open(m_dir / "text.reg");
  EXPECT_NE(error.find("is a .reg text file"), std::string::npos) << error;
  EXPECT_NE(error.find("reg import " + (m_dir / "text.reg").string()),
            std::string::npos)
      << error;
  EXPECT_EQ(Contents(m_dir / "text.reg"), text);

  Write(m_dir / "other.bin", std::string("\x7f" "ELF and more", 13));
  error = Open(m_dir / "other.bin");
  EXPECT_NE(error.find("is not a registry database"), std::string::npos)
      << error;

  fs::create_directory(m_dir / "folder");
  error = Open(m_dir / "folder");
  EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
  ASSERT_EQ(mkfifo((m_dir / "fifo").c_str(), 0600), 0);
  error = Open(m_dir / "fifo");
  EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;

  ASSERT_EQ(Open(m_dir / "registry.db"), "");
  RegCloseKey(Create(HKEY_CURRENT_USER, "Kept"));
  EXPECT_EQ(Open(m_dir / "registry.db"), "");
  EXPECT_EQ(Open(""), "no file name");
  EXPECT_TRUE(fs::exists(m_dir / "registry.db"));
  // The store in use stays the one last opened.
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Kept", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryDatabaseTest, EmptyFileBecomesARegistryThatPersists) {
  Write(m_dir / "empty.db", "");
  ASSERT_EQ(Open(m_dir / "empty.db"), "");
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Qx");
  const char data[] = "kept";
  ASSERT_EQ(RegSetValueExA(key, "V", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(data), sizeof(data)),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(Open(m_dir / "other.db"), "");
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Qx", 0, KEY_READ,
                          &key),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(Open(m_dir / "empty.db"), "");
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Qx", 0, KEY_READ,
                          &key),
            ERROR_SUCCESS);
  char read[16];
  DWORD size = sizeof(read);
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(read), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(read, "kept");
  RegCloseKey(key);
}

TEST_F(RegistryDatabaseTest, HandlesOfAnEarlierDatabaseNameNothing) {
  HKEY key = Create(HKEY_CURRENT_USER, "Before");
  ASSERT_EQ(Open(m_dir / "r.db"), "");
  // The new database has a key of the same row id; the handle is not it.
  HKEY other = Create(HKEY_CURRENT_USER, "After");
  DWORD subkeys = 0;
  EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys,
                             nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  RegCloseKey(other);
}

TEST_F(RegistryDatabaseTest, EnumerationFollowsChangesBetweenSteps) {
  HKEY parent = Create(HKEY_CURRENT_USER, "Walk");
  for (const char* name : {"a", "b", "c", "d", "e"})
    RegCloseKey(Create(parent, name));
  char name[16];
  DWORD length = sizeof(name);
  ASSERT_EQ(RegEnumKeyExA(parent, 1, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "b");
  // Deleting what was walked past moves every later index down by one.
  ASSERT_EQ(RegDeleteKeyA(parent, "a"), ERROR_SUCCESS);
  length = sizeof(name);
  ASSERT_EQ(RegEnumKeyExA(parent, 2, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "d");
  // The usual walk that deletes as it goes: always index 0.
  for (const char* expected : {"b", "c", "d", "e"}) {
    length = sizeof(name);
    ASSERT_EQ(RegEnumKeyExA(parent, 0, name, &length, nullptr, nullptr,
                            nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, expected);
    ASSERT_EQ(RegDeleteKeyA(parent, name), ERROR_SUCCESS);
  }
  length = sizeof(name);
  EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_NO_MORE_ITEMS);

  // Values likewise, in the order they were first set.
  for (const char* value : {"z", "y", "x"})
    RegSetValueExA(parent, value, 0, REG_BINARY,
                   reinterpret_cast<const BYTE*>("1"), 1);
  length = sizeof(name);
  ASSERT_EQ(RegEnumValueA(parent, 0, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "z");
  ASSERT_EQ(RegDeleteValueA(parent, "z"), ERROR_SUCCESS);
  length = sizeof(name);
  ASSERT_EQ(RegEnumValueA(parent, 1, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "x");
  RegCloseKey(parent);
}

// An import makes keys below keys it made without looking them up first;
// a section that comes back to one, and a value set twice, still land on
// what is there.
TEST_F(RegistryDatabaseTest, ImportReturningToKeysItMadeFindsThem) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\A\\B]\r\n\"V\"=\"1\"\r\n\"v\"=\"2\"\r\n"
      "[HKEY_CURRENT_USER\\A\\C]\r\n"
      "[HKEY_CURRENT_USER\\A\\b]\r\n\"W\"=dword:00000003\r\n"
      "[HKEY_CURRENT_USER\\A\\B\\D]\r\n";
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(text, &error)) << error;
  std::string out;
  ASSERT_TRUE(qxplatform::ExportRegistryText("HKCU\\A", &out, &error))
      << error;
  EXPECT_EQ(out,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\A]\r\n\r\n"
            "[HKEY_CURRENT_USER\\A\\B]\r\n\"V\"=\"2\"\r\n"
            "\"W\"=dword:00000003\r\n\r\n"
            "[HKEY_CURRENT_USER\\A\\B\\D]\r\n\r\n"
            "[HKEY_CURRENT_USER\\A\\C]\r\n\r\n");
}

TEST_F(RegistryDatabaseTest, DeepestTreeIsDeletedWhole) {
  ASSERT_EQ(Open(m_dir / "deep.db"), "");
  std::string path = "Deep";
  for (int i = 1; i < 512; ++i) path += "\\L";
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\" +
                     path + "]\r\n\"V\"=dword:00000001\r\n";
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(text, &error)) << error;
  HKEY deepest = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ,
                          &deepest),
            ERROR_SUCCESS);
  ASSERT_TRUE(qxplatform::ImportRegistryText(
      "Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_CURRENT_USER\\Deep]\r\n",
      &error))
      << error;
  DWORD values = 0;
  EXPECT_EQ(RegQueryInfoKeyA(deepest, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_KEY_DELETED);
  RegCloseKey(deepest);
  std::string all;
  ASSERT_TRUE(qxplatform::ExportRegistryText(nullptr, &all, &error)) << error;
  // Only the machine's classes key, which every registry has, is left.
  EXPECT_EQ(all,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\r\n\r\n");
}

TEST_F(RegistryDatabaseTest, ConcurrentThreadsShareOneDatabaseFile) {
  ASSERT_EQ(Open(m_dir / "threads.db"), "");
  constexpr int kThreads = 3;
  constexpr int kKeysPerThread = 60;
  HKEY root = Create(HKEY_CURRENT_USER, "Threads");
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, root] {
      for (int i = 0; i < kKeysPerThread; ++i) {
        std::string path = "T" + std::to_string(t) + "\\K" + std::to_string(i);
        HKEY key = nullptr;
        if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
          continue;
        DWORD value = static_cast<DWORD>(i);
        RegSetValueExA(key, "i", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&value), sizeof(value));
        RegCloseKey(key);
      }
    });
  }
  // A reader walks the key while the writers fill it.
  threads.emplace_back([root] {
    for (int round = 0; round < 20; ++round) {
      char name[32];
      DWORD length = sizeof(name);
      for (DWORD i = 0; RegEnumKeyExA(root, i, name, &length, nullptr,
                                      nullptr, nullptr, nullptr) ==
                        ERROR_SUCCESS;
           ++i)
        length = sizeof(name);
    }
  });
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(root, ("T" + std::to_string(t)).c_str(), 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD count = 0;
    EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(count, static_cast<DWORD>(kKeysPerThread));
    RegCloseKey(key);
  }
  RegCloseKey(root);
  EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0);
}

}  // namespace
