// HKEY_CLASSES_ROOT as the merge of the user's and the machine's classes:
// lookups, enumeration, the user's keys hiding the machine's, where writes
// and deletions go, a standard user's refused writes, RegOverridePredefKey,
// .reg text through the view, and a database of the earlier layout (a
// classes tree of its own) moved into the machine's classes when opened.
#include <windows.h>

#include <sqlite3.h>

#include <string>
#include <vector>

#include "support/platform_fixture.h"
#include "support/scratch_directory.h"

namespace {

constexpr char kUser[] = "Software\\Classes";
constexpr char kMachine[] = "SOFTWARE\\Classes";

class RegistryClassesViewTest : public PlatformTest {
 protected:
  static bool Exists(HKEY parent, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
      return false;
    RegCloseKey(key);
    return true;
  }
  static std::string Text(HKEY parent, const std::string& path,
                          const char* name = "") {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
      return "<no key>";
    char data[256];
    DWORD size = sizeof(data);
    DWORD type = 0;
    LSTATUS status = RegQueryValueExA(key, name, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "<no value>";
    return std::string(data, size > 0 ? size - 1 : 0);
  }
  static void SetText(HKEY key, const char* name, const std::string& text) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
  }
  static std::vector<std::string> Subkeys(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[300];
      DWORD length = sizeof(name);
      LSTATUS status = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr,
                                     nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(status, ERROR_SUCCESS);
      if (status != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    return names;
  }
  static DWORD SubkeyCount(HKEY key) {
    DWORD count = 12345;
    EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr),
              ERROR_SUCCESS);
    return count;
  }
  static std::string Export(const char* key) {
    std::string text;
    std::string error;
    if (!qxplatform::ExportRegistryText(key, &text, &error)) return error;
    return text;
  }
  static std::string User(const std::string& path) {
    return std::string(kUser) + "\\" + path;
  }
  static std::string Machine(const std::string& path) {
    return std::string(kMachine) + "\\" + path;
  }
};

TEST_F(RegistryClassesViewTest, MachineClassesAreReadThroughTheView) {
  RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, Machine("Only.Machine").c_str()));
  HKEY key = CreateKey(HKEY_LOCAL_MACHINE, Machine("Only.Machine").c_str());
  SetText(key, "", "machine");
  RegCloseKey(key);
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "Only.Machine"), "machine");
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "only.machine"), "machine");
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "Only.Nowhere"));
}

TEST_F(RegistryClassesViewTest, UserKeyHidesTheMachinesOfTheSameName) {
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Shared]\r\n@=\"machine\"\r\n"
         "\"OnlyMachine\"=\"m\"\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Shared\\FromMachine]\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Classes\\Shared]\r\n@=\"user\"\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Classes\\Shared\\FromUser]\r\n");
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "Shared"), "user");
  // Values come from the key found; the machine's are not mixed in.
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "Shared", "OnlyMachine"), "<no value>");
  // Subkeys below it are found in either tree.
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Shared\\FromMachine"));
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Shared\\FromUser"));
  HKEY shared = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Shared", 0, KEY_READ, &shared),
            ERROR_SUCCESS);
  EXPECT_TRUE(Exists(shared, "FromMachine"));
  EXPECT_EQ(Subkeys(shared),
            (std::vector<std::string>{"FromMachine", "FromUser"}));
  EXPECT_EQ(SubkeyCount(shared), 2u);
  RegCloseKey(shared);
}

TEST_F(RegistryClassesViewTest, EnumerationMergesBothTreesInNameOrder) {
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\b]\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\D]\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\c]\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Classes\\A]\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Classes\\C]\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Classes\\e]\r\n");
  // "C" of the user's hides "c" of the machine's, and is named as the
  // user's key is.
  EXPECT_EQ(Subkeys(HKEY_CLASSES_ROOT),
            (std::vector<std::string>{"A", "b", "C", "D", "e"}));
  EXPECT_EQ(SubkeyCount(HKEY_CLASSES_ROOT), 5u);
  // Out of order indexes too.
  char name[16];
  DWORD length = sizeof(name);
  ASSERT_EQ(RegEnumKeyExA(HKEY_CLASSES_ROOT, 3, name, &length, nullptr,
                          nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, length), "D");
  length = sizeof(name);
  EXPECT_EQ(RegEnumKeyExA(HKEY_CLASSES_ROOT, 5, name, &length, nullptr,
                          nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryClassesViewTest, WritesGoWhereTheKeyIsOrToTheMachine) {
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, User("Mine").c_str()));
  // A new class: the machine's.
  HKEY created = CreateKey(HKEY_CLASSES_ROOT, "New.Class\\CLSID");
  SetText(created, "", "{1}");
  RegCloseKey(created);
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, Machine("New.Class\\CLSID")), "{1}");
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, User("New.Class")));
  // Below a user's key: the user's, through the root and through a handle.
  RegCloseKey(CreateKey(HKEY_CLASSES_ROOT, "Mine\\Deeper"));
  HKEY mine = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Mine", 0, KEY_ALL_ACCESS, &mine),
            ERROR_SUCCESS);
  RegCloseKey(CreateKey(mine, "Other"));
  SetText(mine, "v", "user's");
  RegCloseKey(mine);
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, User("Mine\\Deeper")));
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, User("Mine\\Other")));
  EXPECT_EQ(Text(HKEY_CURRENT_USER, User("Mine"), "v"), "user's");
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, Machine("Mine")));
  // A value set on a key the user's classes lack goes to the machine's.
  HKEY machineKey = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "New.Class", 0, KEY_SET_VALUE,
                          &machineKey),
            ERROR_SUCCESS);
  SetText(machineKey, "w", "machine's");
  RegCloseKey(machineKey);
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, Machine("New.Class"), "w"), "machine's");
}

TEST_F(RegistryClassesViewTest, DeletionRemovesTheKeyTheViewShows) {
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Both]\r\n@=\"machine\"\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Classes\\Both]\r\n@=\"user\"\r\n");
  ASSERT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Both"), ERROR_SUCCESS);
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, User("Both")));
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "Both"), "machine");
  ASSERT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Both"), ERROR_SUCCESS);
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, Machine("Both")));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Both"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryClassesViewTest, ViewHandleAnswersKeyDeleted) {
  HKEY key = CreateKey(HKEY_CLASSES_ROOT, "Going");
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, Machine("Going").c_str()),
            ERROR_SUCCESS);
  char name[16];
  DWORD length = sizeof(name);
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("x"), 2),
            ERROR_KEY_DELETED);
  RegCloseKey(key);
}

TEST_F(RegistryClassesViewTest, StandardUserCannotWriteTheMachinesTree) {
  RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, Machine("Existing").c_str()));
  RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor"));
  const std::string before = Export("HKEY_LOCAL_MACHINE");
  qxplatform::SetStandardUser(true);
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "New.Class", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Existing", 0, KEY_SET_VALUE,
                          &key),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "v", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("x"), 2),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Existing"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor"),
            ERROR_ACCESS_DENIED);
  std::string error;
  EXPECT_FALSE(qxplatform::ImportRegistryText(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\Imported]\r\n",
      &error));
  // Reading is allowed, and so is the user's own tree.
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Existing", 0, MAXIMUM_ALLOWED,
                          &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, User("Per.User").c_str()));
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Per.User"));
  EXPECT_EQ(Export("HKEY_LOCAL_MACHINE"), before);
}

TEST_F(RegistryClassesViewTest, OverrideMapsClassesRootOntoTheUsersClasses) {
  EXPECT_EQ(RegOverridePredefKey(HKEY_PERFORMANCE_DATA, nullptr),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOverridePredefKey(reinterpret_cast<HKEY>(0x1234), nullptr),
            ERROR_INVALID_HANDLE);
  RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, Machine("Machine.Only").c_str()));
  HKEY classes = CreateKey(HKEY_CURRENT_USER, kUser);
  ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, classes), ERROR_SUCCESS);
  // The mapping outlives the handle it was made from.
  RegCloseKey(classes);
  qxplatform::SetStandardUser(true);
  HKEY key = CreateKey(HKEY_CLASSES_ROOT, "Registered\\CLSID");
  SetText(key, "", "{2}");
  RegCloseKey(key);
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "Machine.Only"));
  ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr), ERROR_SUCCESS);
  qxplatform::SetStandardUser(false);
  EXPECT_EQ(Text(HKEY_CURRENT_USER, User("Registered\\CLSID")), "{2}");
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, Machine("Registered")));
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Machine.Only"));
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "Registered\\CLSID"), "{2}");
}

TEST_F(RegistryClassesViewTest, ImportUnderMachineClassesExportsThroughView) {
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Vendor.Thing]\r\n"
         "@=\"thing\"\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Vendor.Thing\\CLSID]\r\n"
         "@=\"{3}\"\r\n");
  EXPECT_EQ(Export("HKEY_CLASSES_ROOT\\Vendor.Thing"),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Vendor.Thing]\r\n@=\"thing\"\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\Vendor.Thing\\CLSID]\r\n@=\"{3}\"\r\n\r\n");
  // A section of HKEY_CLASSES_ROOT imports through the view.
  Import("[HKEY_CLASSES_ROOT\\Vendor.Thing\\Extra]\r\n\r\n"
         "[HKEY_CLASSES_ROOT\\Fresh]\r\n");
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, Machine("Vendor.Thing\\Extra")));
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, Machine("Fresh")));
}

TEST_F(RegistryClassesViewTest, WholeExportHoldsTheStoredTreesOnceAndRoundTrips) {
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\M]\r\n@=\"m\"\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Classes\\U]\r\n@=\"u\"\r\n");
  const std::string whole = Export("");
  EXPECT_EQ(whole.find("[HKEY_CLASSES_ROOT"), std::string::npos) << whole;
  EXPECT_NE(whole.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\M]"),
            std::string::npos);
  EXPECT_NE(whole.find("[HKEY_CURRENT_USER\\Software\\Classes\\U]"),
            std::string::npos);
  qxplatform::ResetRegistry();
  std::string error;
  ASSERT_TRUE(qxplatform::ImportRegistryText(whole, &error)) << error;
  EXPECT_EQ(Export(""), whole);
}

// A database of the layout before the view: HKEY_CLASSES_ROOT had a tree
// of its own under root row 1. Written here with sqlite3 as that layout
// had it.
TEST_F(RegistryClassesViewTest, EarlierDatabaseMovesItsClassesToTheMachine) {
  ScratchDirectory scratch("qxregold");
  const std::string path = (scratch.path() / "old.db").string();
  {
    std::string error;
    ASSERT_TRUE(qxplatform::OpenRegistryDatabase(path.c_str(), &error))
        << error;
    Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Both]\r\n"
           "\"kept\"=\"machine\"\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Both\\Below]\r\n");
    // A fresh database of its own takes this one's place in the process.
    ASSERT_TRUE(qxplatform::OpenRegistryDatabase(
        (scratch.path() / "other.db").c_str(), &error))
        << error;
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  // Names are kept as their units (ASCII as itself), folded upper; string
  // data as UTF-16LE with its terminator.
  const char* script =
      "BEGIN;"
      "INSERT INTO keys(id, parent, name, folded, depth, last_write) VALUES"
      " (1000, 1, CAST('Old.Class' AS BLOB), CAST('OLD.CLASS' AS BLOB), 1, 0),"
      " (1001, 1000, CAST('CLSID' AS BLOB), CAST('CLSID' AS BLOB), 2, 0),"
      " (1002, 1, CAST('Both' AS BLOB), CAST('BOTH' AS BLOB), 1, 0),"
      " (1003, 1002, CAST('Added' AS BLOB), CAST('ADDED' AS BLOB), 2, 0);"
      "INSERT INTO vals(key, folded, seq, name, type, data) VALUES"
      " (1001, x'', 1, x'', 1, x'7B0034007D000000'),"
      " (1002, CAST('KEPT' AS BLOB), 1, CAST('kept' AS BLOB), 1,"
      "  x'6F006C0064000000'),"
      " (1002, CAST('NEW' AS BLOB), 2, CAST('new' AS BLOB), 1,"
      "  x'6F006C0064000000');"
      "PRAGMA user_version = 1;"
      "COMMIT;";
  ASSERT_EQ(sqlite3_exec(db, script, nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);

  std::string error;
  ASSERT_TRUE(qxplatform::OpenRegistryDatabase(path.c_str(), &error)) << error;
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, Machine("Old.Class\\CLSID")));
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Old.Class\\CLSID"));
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, Machine("Both\\Below")));
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, Machine("Both\\Added")));
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, Machine("Both"), "kept"), "machine");
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, Machine("Both"), "new"), "old");
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, "Old.Class\\CLSID"), "{4}");
  // Moved keys lie where their depth says: one made below them keeps to
  // the limit counted from the machine's root.
  RegCloseKey(CreateKey(HKEY_CLASSES_ROOT, "Old.Class\\CLSID\\Deeper"));
  // Opened again, it is not moved twice.
  ASSERT_TRUE(qxplatform::OpenRegistryDatabase(
      (scratch.path() / "other.db").c_str(), &error));
  ASSERT_TRUE(qxplatform::OpenRegistryDatabase(path.c_str(), &error)) << error;
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Old.Class\\CLSID\\Deeper"));
  sqlite3* check = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &check), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(check,
                               "SELECT (SELECT count(*) FROM keys WHERE "
                               "parent = 1), (SELECT depth FROM keys WHERE "
                               "id = 1001)",
                               -1, &statement, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(statement, 0), 0);
  EXPECT_EQ(sqlite3_column_int(statement, 1), 4);
  sqlite3_finalize(statement);
  sqlite3_close(check);
}

}  // namespace
