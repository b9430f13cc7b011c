// The registry's database file shared with other programs and processes:
// another program's SQLite file is refused untouched, a write lock held by
// another process costs one busy wait rather than one per call, and
// processes making one new registry at once all end up using it.
#include <windows.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/platform_fixture.h"
#include "support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string Open(const fs::path& path) {
  std::string error;
  return qxplatform::OpenRegistryDatabase(path.c_str(), &error) ? "" : error;
}

// A connection of another program to a database file.
class OtherConnection {
 public:
  explicit OtherConnection(const fs::path& path) {
    EXPECT_EQ(sqlite3_open(path.c_str(), &m_db), SQLITE_OK) << path;
  }
  ~OtherConnection() { sqlite3_close(m_db); }
  OtherConnection(const OtherConnection&) = delete;
  OtherConnection& operator=(const OtherConnection&) = delete;

  int Exec(const char* sql) {
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
  }
  long long Number(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    long long result = -1;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
      result = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return result;
  }

 private:
  sqlite3* m_db = nullptr;
};

class RegistrySharingTest : public PlatformTest {
 protected:
  LSTATUS CreateKey(const char* path) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0,
                                     KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status;
  }

  ScratchDirectory m_scratch{"qxregshare"};
  const fs::path m_dir = m_scratch.path();
};

TEST_F(RegistrySharingTest, AnotherProgramsDatabaseIsRefusedWithItsBytesKept) {
  struct Foreign {
    const char* name;
    const char* sql;
  };
  const Foreign foreign[] = {
      {"table.db",
       "PRAGMA journal_mode = WAL; CREATE TABLE notes(text);"
       "INSERT INTO notes VALUES ('mine');"},
      {"version7.db", "PRAGMA user_version = 7;"},
      {"rollback.db",
       "PRAGMA journal_mode = DELETE; PRAGMA application_id = 42;"
       "CREATE TABLE keys(id INTEGER PRIMARY KEY);"},
  };
  for (const Foreign& file : foreign) {
    const fs::path path = m_dir / file.name;
    {
      OtherConnection other(path);
      ASSERT_EQ(other.Exec(file.sql), SQLITE_OK) << file.name;
    }
    const std::string before = Contents(path);
    ASSERT_GT(before.size(), 0u) << file.name;
    const std::string error = Open(path);
    EXPECT_NE(error.find("not a registry"), std::string::npos)
        << file.name << ": " << error;
    EXPECT_NE(error.find(path.string()), std::string::npos) << error;
    EXPECT_TRUE(Contents(path) == before) << file.name << " was changed";
  }
  // The store in use is still the one the process had.
  EXPECT_EQ(CreateKey("StillUsable"), ERROR_SUCCESS);
}

TEST_F(RegistrySharingTest, ARegistryOfThisKindStillOpensAfterItIsLookedAt) {
  const fs::path path = m_dir / "registry.db";
  ASSERT_EQ(Open(path), "");
  ASSERT_EQ(CreateKey("Kept"), ERROR_SUCCESS);
  ASSERT_EQ(Open(m_dir / "other.db"), "");
  ASSERT_EQ(Open(path), "");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Kept", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
  OtherConnection other(path);
  EXPECT_EQ(other.Number("PRAGMA user_version"), 3);
  EXPECT_EQ(other.Number("SELECT count(*) FROM keys WHERE parent IS NULL"), 4);
}

// The wait is measured only against the timeout itself: the first write
// cannot fail before it has passed, and the writes after it, each failing
// at once, take together far less than one such wait.
TEST_F(RegistrySharingTest, AWriteLockHeldElsewhereCostsOneWaitNotOnePerWrite) {
  using Clock = std::chrono::steady_clock;
  constexpr DWORD kTimeoutMs = 1500;
  const fs::path path = m_dir / "registry.db";
  ASSERT_EQ(Open(path), "");
  ASSERT_EQ(CreateKey("Before"), ERROR_SUCCESS);
  qxplatform::SetRegistryBusyTimeout(kTimeoutMs);

  OtherConnection other(path);
  ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(CreateKey("First"), ERROR_LOCK_VIOLATION);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kTimeoutMs));

  start = Clock::now();
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(CreateKey("Later"), ERROR_LOCK_VIOLATION) << i;
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kTimeoutMs));
  // Reads go on beside another's write.
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Before", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);

  // Once the lock is free the writes get through, and a lock taken again
  // is waited for again.
  ASSERT_EQ(other.Exec("ROLLBACK"), SQLITE_OK);
  EXPECT_EQ(CreateKey("AfterRelease"), ERROR_SUCCESS);
  EXPECT_EQ(CreateKey("AndAgain"), ERROR_SUCCESS);
  ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
  start = Clock::now();
  EXPECT_EQ(CreateKey("Waited"), ERROR_LOCK_VIOLATION);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kTimeoutMs));
  ASSERT_EQ(other.Exec("ROLLBACK"), SQLITE_OK);
  EXPECT_EQ(CreateKey("Last"), ERROR_SUCCESS);
}

TEST_F(RegistrySharingTest, ResetControlsBringsBackTheUsualWait) {
  const fs::path path = m_dir / "registry.db";
  ASSERT_EQ(Open(path), "");
  qxplatform::SetRegistryBusyTimeout(0);
  OtherConnection other(path);
  ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
  EXPECT_EQ(CreateKey("Refused"), ERROR_LOCK_VIOLATION);
  ASSERT_EQ(other.Exec("ROLLBACK"), SQLITE_OK);
  qxplatform::ResetControls();
  // Another process holds the lock for a moment, far less than the usual
  // wait: the write waits it out.
  int locked[2];
  ASSERT_EQ(pipe(locked), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(locked[0]);
    OtherConnection holder(path);
    if (holder.Exec("BEGIN IMMEDIATE") != SQLITE_OK) _exit(1);
    close(locked[1]);
    usleep(200 * 1000);
    _exit(holder.Exec("ROLLBACK") == SQLITE_OK ? 0 : 2);
  }
  close(locked[1]);
  char ignored;
  (void)!read(locked[0], &ignored, 1);  // returns once the child holds it
  close(locked[0]);
  EXPECT_EQ(CreateKey("Written"), ERROR_SUCCESS);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Children started together open one file that does not exist yet; each
// then writes its own key.
TEST_F(RegistrySharingTest, ProcessesMakingOneNewRegistryAtOnceAllUseIt) {
  constexpr int kProcesses = 8;
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    const fs::path path = m_dir / ("round" + std::to_string(round) + ".db");
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        close(start[1]);
        char go;
        (void)!read(start[0], &go, 1);  // returns when the parent closes it
        std::string error;
        if (!qxplatform::OpenRegistryDatabase(path.c_str(), &error)) {
          fprintf(stderr, "child %d: %s\n", i, error.c_str());
          _exit(1);
        }
        const std::string name = "Child" + std::to_string(i);
        HKEY key = nullptr;
        LSTATUS status =
            RegCreateKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) {
          fprintf(stderr, "child %d: create failed with %ld\n", i,
                  static_cast<long>(status));
          _exit(2);
        }
        _exit(0);
      }
      children.push_back(child);
    }
    close(start[0]);
    close(start[1]);
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "round " << round << ": a child failed (status " << status << ")";
    }
    ASSERT_EQ(Open(path), "") << "round " << round;
    for (int i = 0; i < kProcesses; ++i) {
      HKEY key = nullptr;
      const std::string name = "Child" + std::to_string(i);
      EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, KEY_READ,
                              &key),
                ERROR_SUCCESS)
          << "round " << round << " " << name;
      RegCloseKey(key);
    }
    OtherConnection other(path);
    EXPECT_EQ(other.Number("SELECT count(*) FROM keys WHERE parent IS NULL"),
              4);
    if (HasFailure()) break;
  }
}

}  // namespace
