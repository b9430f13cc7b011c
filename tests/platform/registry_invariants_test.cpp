// What the registry keeps true whichever way a key is made or removed (a
// registry call, a .reg import, a test control, the clean-up of an earlier
// boot): no non-volatile key below a volatile one, no key below one that
// refuses write access, and after a new boot no volatile key, nor any key
// or value whose parent is gone.
#include <windows.h>
#include <sqlite3.h>

#include <string>

#include "support/platform_fixture.h"
#include "support/scratch_directory.h"

namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

class RegistryInvariantsTest : public PlatformTest {
 protected:
  static HKEY CreateVolatile(HKEY parent, const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    return key;
  }
  // The status of a create of HKCU\path that is to fail, which must leave
  // no handle.
  static LSTATUS FailedCreate(const char* path) {
    HKEY key = reinterpret_cast<HKEY>(1);
    LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0,
                                     KEY_ALL_ACCESS, nullptr, &key, nullptr);
    EXPECT_EQ(key, nullptr) << path;
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status;
  }
  static bool Exists(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return false;
    RegCloseKey(key);
    return true;
  }
  static std::string ImportError(const std::string& body) {
    std::string error;
    return qxplatform::ImportRegistryText(kHeader + body, &error) ? "" : error;
  }
  static std::string Export() {
    std::string text, error;
    EXPECT_TRUE(qxplatform::ExportRegistryText(nullptr, &text, &error))
        << error;
    return text;
  }
};

TEST_F(RegistryInvariantsTest, CreateOfANonVolatileKeyBelowAVolatileOneFails) {
  RegCloseKey(CreateVolatile(HKEY_CURRENT_USER, "Vol"));
  EXPECT_EQ(FailedCreate("Vol\\A\\B"), ERROR_CHILD_MUST_BE_VOLATILE);
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Vol\\A"));
  RegCloseKey(CreateVolatile(HKEY_CURRENT_USER, "Vol\\A\\B"));
}

TEST_F(RegistryInvariantsTest, ImportBelowAVolatileKeyIsRefusedWhole) {
  RegCloseKey(CreateVolatile(HKEY_CURRENT_USER, "Vol"));
  const std::string before = Export();
  std::string error = ImportError(
      "[HKEY_CURRENT_USER\\Other]\r\n\"a\"=\"b\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Vol\\Child]\r\n\"c\"=\"d\"\r\n");
  EXPECT_NE(error.find("volatile"), std::string::npos) << error;
  EXPECT_NE(error.find("line 6"), std::string::npos) << error;
  EXPECT_NE(error.find("1021"), std::string::npos) << error;
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Vol\\Child"));
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Other"));
  EXPECT_EQ(Export(), before);
}

TEST_F(RegistryInvariantsTest, ImportMaySetValuesOfAVolatileKey) {
  RegCloseKey(CreateVolatile(HKEY_CURRENT_USER, "Vol"));
  EXPECT_EQ(ImportError("[HKEY_CURRENT_USER\\Vol]\r\n\"a\"=\"b\"\r\n"), "");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Vol", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(key, "a", nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryInvariantsTest, ImportBelowAKeyRefusingWritesIsRefusedWhole) {
  ASSERT_EQ(qxplatform::DenyWriteAccess(HKEY_CURRENT_USER, "Locked", true),
            ERROR_SUCCESS);
  std::string error = ImportError(
      "[HKEY_CURRENT_USER\\Free]\r\n\r\n[HKEY_CURRENT_USER\\Locked\\New]\r\n");
  EXPECT_NE(error.find("refuses write access"), std::string::npos) << error;
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Locked\\New"));
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Free"));
}

TEST_F(RegistryInvariantsTest, ImportCannotDeleteATreeHoldingAKeyRefusingWrites) {
  ASSERT_EQ(qxplatform::DenyWriteAccess(HKEY_CURRENT_USER, "Tree\\Locked", true),
            ERROR_SUCCESS);
  std::string error = ImportError("[-HKEY_CURRENT_USER\\Tree]\r\n");
  EXPECT_NE(error.find("refuses write access"), std::string::npos) << error;
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "Tree\\Locked"));
}

TEST_F(RegistryInvariantsTest, DenyControlMakesKeysUnderTheSameRules) {
  RegCloseKey(CreateVolatile(HKEY_CURRENT_USER, "Vol"));
  EXPECT_EQ(qxplatform::DenyWriteAccess(HKEY_CURRENT_USER, "Vol\\New", true),
            ERROR_CHILD_MUST_BE_VOLATILE);
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Vol\\New"));
  // Marking a key that exists makes nothing, volatile or not.
  EXPECT_EQ(qxplatform::DenyWriteAccess(HKEY_CURRENT_USER, "Vol", true),
            ERROR_SUCCESS);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Vol", 0, KEY_WRITE, &key),
            ERROR_ACCESS_DENIED);

  ASSERT_EQ(qxplatform::DenyWriteAccess(HKEY_CURRENT_USER, "Locked", true),
            ERROR_SUCCESS);
  EXPECT_EQ(qxplatform::DenyWriteAccess(HKEY_CURRENT_USER, "Locked\\Below",
                                        true),
            ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Locked\\Below"));
}

TEST_F(RegistryInvariantsTest, AFailedTransactionFailsTheCallAndChangesNothing) {
  qxplatform::FailRegistryTransactionAt(1, ERROR_LOCK_VIOLATION);
  EXPECT_EQ(FailedCreate("A"), ERROR_LOCK_VIOLATION);
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "A"));
  qxplatform::FailRegistryTransactionAt(1, ERROR_BADDB);
  std::string error = ImportError("[HKEY_CURRENT_USER\\A]\r\n");
  EXPECT_NE(error.find("error 1009"), std::string::npos) << error;
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "A"));
}

// A restart of the system as the registry sees it: another boot opens the
// database file.
class RegistryBootTest : public RegistryInvariantsTest {
 protected:
  void SetUp() override {
    RegistryInvariantsTest::SetUp();
    qxplatform::SetRegistryBootId("first boot");
    ASSERT_EQ(Open(), "");
  }
  std::string Open() {
    std::string error;
    return qxplatform::OpenRegistryDatabase(m_file.c_str(), &error) ? ""
                                                                     : error;
  }
  std::string NewBoot(const char* boot) {
    qxplatform::SetRegistryBootId(boot);
    return Open();
  }
  // SQL run on the database file beside the registry's own connection.
  long long Query(const char* sql) {
    sqlite3* db = nullptr;
    long long result = -1;
    if (sqlite3_open_v2(m_file.c_str(), &db, SQLITE_OPEN_READWRITE,
                        nullptr) == SQLITE_OK) {
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK) {
        int rc = sqlite3_step(statement);
        if (rc == SQLITE_ROW) result = sqlite3_column_int64(statement, 0);
        if (rc == SQLITE_DONE) result = sqlite3_changes(db);
      }
      sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
  }
  long long Orphans() {
    return Query(
               "SELECT count(*) FROM keys WHERE parent IS NOT NULL AND "
               "parent NOT IN (SELECT id FROM keys)") +
           Query("SELECT count(*) FROM vals WHERE key NOT IN "
                 "(SELECT id FROM keys)");
  }

  ScratchDirectory m_scratch{"qxregboot"};
  const std::string m_file = (m_scratch.path() / "registry.db").string();
};

TEST_F(RegistryBootTest, ANewBootRemovesTheVolatileTreesAndNothingElse) {
  HKEY key = CreateVolatile(HKEY_CURRENT_USER, "Vol\\Inner");
  RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>("1234"),
                 4);
  RegCloseKey(key);
  Import("[HKEY_CURRENT_USER\\Kept\\Below]\r\n\"k\"=\"v\"\r\n");
  // The same boot opening the file again keeps them.
  ASSERT_EQ(NewBoot("first boot"), "");
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "Vol\\Inner"));

  ASSERT_EQ(NewBoot("second boot"), "");
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Vol"));
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "Kept\\Below"));
  EXPECT_EQ(Query("SELECT count(*) FROM keys WHERE volatile = 1"), 0);
  EXPECT_EQ(Orphans(), 0);
}

// A database written before the rule held can have a non-volatile key below
// a volatile one: the new boot removes it with its volatile parent rather
// than leave it without one.
TEST_F(RegistryBootTest, ANewBootLeavesNoOrphansOfAnOldDatabase) {
  RegCloseKey(CreateVolatile(HKEY_CURRENT_USER, "Vol"));
  HKEY key = CreateVolatile(HKEY_CURRENT_USER, "Vol\\Child");
  RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
  RegCloseKey(key);
  // As an older registry could leave it: the child and its subtree marked
  // non-volatile.
  ASSERT_EQ(
      Query("UPDATE keys SET volatile = 0 WHERE depth > 1 AND volatile = 1"),
      1);
  qxplatform::SetRegistryBootId("first boot");
  ASSERT_EQ(Open(), "");
  key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Vol\\Child", 0, KEY_ALL_ACCESS,
                          &key),
            ERROR_SUCCESS);
  RegCloseKey(CreateKey(key, "Grandchild"));
  RegCloseKey(key);

  ASSERT_EQ(NewBoot("second boot"), "");
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Vol"));
  // Only the machine's classes key and its parent are left.
  EXPECT_EQ(Query("SELECT count(*) FROM keys WHERE parent IS NOT NULL"), 2);
  EXPECT_EQ(Query("SELECT count(*) FROM vals"), 0);
  EXPECT_EQ(Orphans(), 0);
}

}  // namespace
