// The counts and longest sizes RegQueryInfoKeyA reports come from figures
// each key keeps; whichever way the registry changes (the entry points, a
// .reg import, the deletion of a subtree, the clean-up of an earlier boot's
// volatile keys, the upgrade of an older database), they must agree with a
// recount by enumeration: counts exactly, longest sizes never less (and
// exactly while nothing was deleted).
#include <windows.h>
#include <sqlite3.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/platform_fixture.h"
#include "support/scratch_directory.h"

namespace {

struct Figures {
  DWORD subkeys = 0, longestSubkey = 0, values = 0, longestValueName = 0,
        longestData = 0;
};

// The figures of root\path by a full walk of its subkeys and values.
Figures Recount(HKEY key) {
  Figures counted;
  char name[600];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof(name);
    LSTATUS status = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr,
                                   nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(status, ERROR_SUCCESS);
    if (status != ERROR_SUCCESS) break;
    ++counted.subkeys;
    counted.longestSubkey = std::max(counted.longestSubkey, length);
  }
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof(name);
    DWORD size = 0;
    LSTATUS status =
        RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, &size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(status, ERROR_SUCCESS);
    if (status != ERROR_SUCCESS) break;
    ++counted.values;
    counted.longestValueName = std::max(counted.longestValueName, length);
    counted.longestData = std::max(counted.longestData, size);
  }
  return counted;
}

Figures Reported(HKEY key) {
  Figures reported;
  EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr,
                             &reported.subkeys, &reported.longestSubkey,
                             nullptr, &reported.values,
                             &reported.longestValueName,
                             &reported.longestData, nullptr, nullptr),
            ERROR_SUCCESS);
  return reported;
}

class RegistryFiguresTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    qxplatform::SetRegistryBootId("boot 0");
    ASSERT_EQ(Open(), "");
  }
  std::string Open() {
    std::string error;
    return qxplatform::OpenRegistryDatabase(m_file.c_str(), &error) ? ""
                                                                     : error;
  }
  // SQL run on the database file beside the registry's own connection.
  bool Run(const char* sql) {
    sqlite3* db = nullptr;
    bool done = sqlite3_open_v2(m_file.c_str(), &db, SQLITE_OPEN_READWRITE,
                                nullptr) == SQLITE_OK &&
                sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return done;
  }

  // Checks the key at root\path and every key below it; how many.
  int CheckTree(HKEY root, const std::string& path, bool exact) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return 0;
    const Figures counted = Recount(key);
    const Figures reported = Reported(key);
    EXPECT_EQ(reported.subkeys, counted.subkeys) << path;
    EXPECT_EQ(reported.values, counted.values) << path;
    if (exact) {
      EXPECT_EQ(reported.longestSubkey, counted.longestSubkey) << path;
      EXPECT_EQ(reported.longestValueName, counted.longestValueName) << path;
      EXPECT_EQ(reported.longestData, counted.longestData) << path;
    } else {
      EXPECT_GE(reported.longestSubkey, counted.longestSubkey) << path;
      EXPECT_GE(reported.longestValueName, counted.longestValueName) << path;
      EXPECT_GE(reported.longestData, counted.longestData) << path;
    }
    std::vector<std::string> children;
    char name[600];
    DWORD length = sizeof(name);
    for (DWORD i = 0; RegEnumKeyExA(key, i, name, &length, nullptr, nullptr,
                                    nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = sizeof(name))
      children.emplace_back(name);
    RegCloseKey(key);
    int checked = 1;
    for (const std::string& child : children)
      checked += CheckTree(root, path + "\\" + child, exact);
    return checked;
  }
  int CheckAll(bool exact) {
    return CheckTree(HKEY_CURRENT_USER, "Software", exact) +
           CheckTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes", exact) +
           CheckTree(HKEY_CLASSES_ROOT, "Fig", exact);
  }

  std::string RandomName(size_t most) {
    static const char kLetters[] = "abcdeFGHIJ";
    std::string name(1 + m_random() % most, 'x');
    for (char& c : name) c = kLetters[m_random() % 10];
    return name;
  }
  // A path of one to three levels below one of the trees the view merges.
  std::string RandomPath(HKEY* root) {
    const bool user = m_random() % 2 == 0;
    *root = user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    std::string path = user ? "Software\\Classes\\Fig" : "SOFTWARE\\Classes\\Fig";
    const int levels = 1 + static_cast<int>(m_random() % 3);
    for (int i = 0; i < levels; ++i) path += "\\" + RandomName(2);
    return path;
  }
  std::string RootName(HKEY root) {
    return root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER"
                                     : "HKEY_LOCAL_MACHINE";
  }

  void CreateStep(bool allowVolatile) {
    HKEY root;
    const std::string path = RandomPath(&root);
    const DWORD options =
        allowVolatile && m_random() % 4 == 0 ? REG_OPTION_VOLATILE : 0;
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, options,
                        KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS)
      RegCloseKey(key);
  }
  void SetValueStep() {
    HKEY root;
    std::string path = RandomPath(&root);
    path.resize(path.rfind('\\'));
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS)
      return;
    const std::vector<BYTE> data(m_random() % 40, 7);
    EXPECT_EQ(RegSetValueExA(key, RandomName(6).c_str(), 0, REG_BINARY,
                             data.data(), static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  void ImportStep(bool allowDeletes) {
    HKEY root;
    const std::string path = RandomPath(&root);
    std::string body = "[" + RootName(root) + "\\" + path + "]\r\n\"" +
                       RandomName(8) + "\"=hex:01,02,03\r\n";
    if (allowDeletes) body += "\"" + RandomName(3) + "\"=-\r\n";
    // Refused whole below a volatile key, which is a change too (none).
    std::string error;
    (void)qxplatform::ImportRegistryText(
        "Windows Registry Editor Version 5.00\r\n\r\n" + body, &error);
  }
  void DeleteStep() {
    HKEY root;
    std::string path = RandomPath(&root);
    switch (m_random() % 3) {
      case 0: {  // a value
        path.resize(path.rfind('\\'));
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) ==
            ERROR_SUCCESS) {
          (void)RegDeleteValueA(key, RandomName(6).c_str());
          RegCloseKey(key);
        }
        break;
      }
      case 1:  // a key without subkeys
        (void)RegDeleteKeyA(root, path.c_str());
        break;
      default:  // a subtree, by an import
        path.resize(path.rfind('\\'));
        Import("[-" + RootName(root) + "\\" + path + "]\r\n");
        break;
    }
  }

  ScratchDirectory m_scratch{"qxregfig"};
  const std::string m_file = (m_scratch.path() / "registry.db").string();
  std::mt19937 m_random{20261208};
};

TEST_F(RegistryFiguresTest, FiguresAreExactWhileTheRegistryOnlyGrows) {
  for (int step = 0; step < 150; ++step) {
    switch (m_random() % 3) {
      case 0: CreateStep(/*allowVolatile=*/true); break;
      case 1: SetValueStep(); break;
      default: ImportStep(/*allowDeletes=*/false); break;
    }
    if (step % 10 == 0) {
      ASSERT_GT(CheckAll(/*exact=*/true), 0) << step;
    }
  }
  EXPECT_GT(CheckAll(/*exact=*/true), 20);
}

TEST_F(RegistryFiguresTest, FiguresFollowEveryKindOfChange) {
  int boots = 0;
  for (int step = 0; step < 400; ++step) {
    const unsigned kind = m_random() % 20;
    if (kind < 6) {
      CreateStep(/*allowVolatile=*/true);
    } else if (kind < 10) {
      SetValueStep();
    } else if (kind < 13) {
      ImportStep(/*allowDeletes=*/true);
    } else if (kind < 19) {
      DeleteStep();
    } else {
      // A new boot: the earlier boot's volatile keys go as it opens.
      const std::string boot = "boot " + std::to_string(++boots);
      qxplatform::SetRegistryBootId(boot.c_str());
      ASSERT_EQ(Open(), "");
    }
    if (HasFailure()) FAIL() << "at step " << step;
    CheckAll(/*exact=*/false);
    if (HasFailure()) FAIL() << "at step " << step;
  }
  EXPECT_GT(boots, 0);
}

// A database of the layout before keys kept their figures gets them the
// first time it is opened, computed from its rows.
TEST_F(RegistryFiguresTest, AnOlderDatabaseGainsItsFiguresWhenOpened) {
  for (int step = 0; step < 60; ++step) {
    if (step % 2 == 0) CreateStep(/*allowVolatile=*/false);
    else SetValueStep();
  }
  ASSERT_TRUE(Run(
      "DROP TRIGGER key_added; DROP TRIGGER key_deleted; DROP TRIGGER "
      "key_moved; DROP TRIGGER value_added; DROP TRIGGER value_deleted; "
      "DROP TRIGGER value_changed; ALTER TABLE keys DROP COLUMN subkeys; "
      "ALTER TABLE keys DROP COLUMN longest_subkey; ALTER TABLE keys DROP "
      "COLUMN nvalues; ALTER TABLE keys DROP COLUMN longest_value; ALTER "
      "TABLE keys DROP COLUMN longest_data; PRAGMA user_version = 2;"));
  ASSERT_EQ(Open(), "");
  EXPECT_GT(CheckAll(/*exact=*/true), 10);
  // And keeps them from then on.
  for (int step = 0; step < 60; ++step) {
    if (step % 3 == 0) DeleteStep();
    else CreateStep(/*allowVolatile=*/false);
  }
  CheckAll(/*exact=*/false);
}

}  // namespace
