// The registry as a database shared by processes, end to end: a long run
// keeps no reader or writer waiting, one process sees what another just
// wrote through a handle it already had, a key deleted elsewhere answers
// ERROR_KEY_DELETED, a host killed at any point leaves a consistent
// database holding a prefix of its calls, and a .reg text file named as the
// registry is refused with a word on how to import it.
#include <gtest/gtest.h>
#include <windows.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <qxplatform/controls.h>

#include "host/host_runner.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using hosttest::HostRun;
using hosttest::HostSandbox;
using hosttest::LastLine;
using hosttest::ReadFile;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

// qxhost started without waiting for it, its standard output in a file.
class BackgroundHost {
 public:
  // extra: more NAME=value words for its environment, after this one's.
  BackgroundHost(const std::vector<std::string>& arguments,
                 const fs::path& output,
                 const std::vector<std::string>& extra = {}) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("qxhost"));
    for (const std::string& word : arguments)
      argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry)
      envp.push_back(*entry);
    for (const std::string& entry : extra)
      envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&m_pid, QX_QXHOST_PATH, &actions, nullptr, argv.data(),
                    envp.data()) != 0)
      m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~BackgroundHost() {
    if (m_pid > 0 && !m_done) {
      kill(m_pid, SIGKILL);
      Wait();
    }
  }
  bool started() const { return m_pid > 0; }
  bool Running() {
    if (m_done) return false;
    int status = 0;
    pid_t result = waitpid(m_pid, &status, WNOHANG);
    if (result == 0) return true;
    m_done = true;
    m_status = status;
    return false;
  }
  void Kill() { kill(m_pid, SIGKILL); }
  int Wait() {
    if (!m_done) {
      waitpid(m_pid, &m_status, 0);
      m_done = true;
    }
    return m_status;
  }

 private:
  pid_t m_pid = -1;
  bool m_done = false;
  int m_status = 0;
};

// Polls until the file holds a line; false after ten seconds.
bool WaitForOutput(const fs::path& file) {
  for (int i = 0; i < 1000; ++i) {
    if (ReadFile(file).find('\n') != std::string::npos) return true;
    usleep(10000);
  }
  return false;
}

std::string QueryString(HKEY key, const char* name) {
  char data[256];
  DWORD size = sizeof(data);
  DWORD type = 0;
  LSTATUS status = RegQueryValueExA(key, name, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &size);
  if (status != ERROR_SUCCESS) return "<" + std::to_string(status) + ">";
  return std::string(data, size > 0 ? size - 1 : 0);
}

TEST(HostRegistryDatabase, LongRunKeepsNeitherReadersNorWritersWaiting) {
  HostSandbox sandbox;
  ASSERT_TRUE(sandbox.SeedRegistry(std::string(kHeader) +
                                   "[HKEY_CURRENT_USER\\Software\\QxSeed]\r\n"
                                   "\"On\"=dword:00000001\r\n"));
  // Runs until the test kills it at the end, so that however slowly the
  // machine goes, the run is still there while the others go ahead.
  fs::path script = sandbox.Write(
      "long.js",
      "WScript.Echo('started');\n"
      "for (;;) {}\n");
  const fs::path output = sandbox.root() / "long.out";
  BackgroundHost run({"--registry", sandbox.registry().string(), "run",
                      script.string()},
                     output);
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(WaitForOutput(output));

  // The run has the registry open; a reader goes ahead of it.
  HostRun exported = sandbox.RunWithRegistry({"reg", "export"});
  EXPECT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_NE(exported.out.find("[HKEY_CURRENT_USER\\Software\\QxSeed]"),
            std::string::npos);
  EXPECT_TRUE(run.Running()) << "the export waited for the run to end";

  // So does a writer, that waits only for other writes.
  HostRun registered =
      sandbox.RunWithRegistry({"regsvr32", QX_LIBRARY_PATH});
  EXPECT_EQ(registered.exitCode, 0) << registered.err;
  EXPECT_EQ(LastLine(registered.out), "0x00000000");
  EXPECT_TRUE(run.Running()) << "regsvr32 waited for the run to end";
  EXPECT_NE(sandbox.RegistryText().find("QxKorvex.InstallKorvex"),
            std::string::npos);
}

TEST(HostRegistryDatabase, ProcessSeesAnotherProcesssWriteThroughItsHandle) {
  HostSandbox sandbox;
  ASSERT_TRUE(sandbox.SeedRegistry(std::string(kHeader) +
                                   "[HKEY_CURRENT_USER\\Software\\QxShared]\r\n"
                                   "\"Value\"=\"before\"\r\n"));
  std::string error;
  ASSERT_TRUE(qxplatform::OpenRegistryDatabase(
      sandbox.registry().string().c_str(), &error))
      << error;
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QxShared", 0,
                          KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, "Value"), "before");

  ASSERT_TRUE(sandbox.SeedRegistry(std::string(kHeader) +
                                   "[HKEY_CURRENT_USER\\Software\\QxShared]\r\n"
                                   "\"Value\"=\"after\"\r\n"
                                   "[HKEY_CURRENT_USER\\Software\\QxShared\\"
                                   "New]\r\n"));
  // At once, through the handle this process already had.
  EXPECT_EQ(QueryString(key, "Value"), "after");
  char name[64];
  DWORD length = sizeof(name);
  ASSERT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "New");

  // And the other way: what this process writes, a host reads at once.
  HKEY writable = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QxShared\\Mine", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &writable,
                            nullptr),
            ERROR_SUCCESS);
  const char text[] = "from the test";
  ASSERT_EQ(RegSetValueExA(writable, "Written", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text), sizeof(text)),
            ERROR_SUCCESS);
  HostRun exported = sandbox.RunWithRegistry(
      {"reg", "export", "HKCU\\Software\\QxShared\\Mine"});
  EXPECT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_NE(exported.out.find("\"Written\"=\"from the test\""),
            std::string::npos)
      << exported.out;
  RegCloseKey(writable);
  RegCloseKey(key);
}

TEST(HostRegistryDatabase, KeyDeletedByAnotherProcessAnswersKeyDeleted) {
  HostSandbox sandbox;
  ASSERT_TRUE(sandbox.SeedRegistry(std::string(kHeader) +
                                   "[HKEY_CURRENT_USER\\Software\\QxGone]\r\n"
                                   "\"Value\"=\"here\"\r\n"
                                   "[HKEY_CURRENT_USER\\Software\\QxGone\\"
                                   "Below]\r\n"));
  std::string error;
  ASSERT_TRUE(qxplatform::OpenRegistryDatabase(
      sandbox.registry().string().c_str(), &error))
      << error;
  HKEY key = nullptr, below = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QxGone", 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(key, "Below", 0, KEY_READ, &below), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, "Value"), "here");

  ASSERT_TRUE(sandbox.SeedRegistry(std::string(kHeader) +
                                   "[-HKEY_CURRENT_USER\\Software\\QxGone]\r\n"));
  EXPECT_EQ(QueryString(key, "Value"), "<1018>");  // ERROR_KEY_DELETED
  EXPECT_EQ(QueryString(below, nullptr), "<1018>");
  const char data[] = "x";
  EXPECT_EQ(RegSetValueExA(key, "Value", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(data), sizeof(data)),
            ERROR_KEY_DELETED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(key, "Again", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &child, nullptr),
            ERROR_KEY_DELETED);
  // A key made again under the same name is a new key: the old handles
  // still name the one that went.
  ASSERT_TRUE(sandbox.SeedRegistry(std::string(kHeader) +
                                   "[HKEY_CURRENT_USER\\Software\\QxGone]\r\n"));
  EXPECT_EQ(QueryString(key, "Value"), "<1018>");
  EXPECT_EQ(RegCloseKey(below), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// A registry script of count keys, each with its default value, registered
// in order: HKCU\QxCrash\K000 = 'v000' and so on.
std::string ManyKeysScript(int count) {
  std::string script = "HKCU\n{\n  NoRemove QxCrash\n  {\n";
  char line[64];
  for (int i = 0; i < count; ++i) {
    std::snprintf(line, sizeof(line), "    K%03d = s 'v%03d'\n", i, i);
    script += line;
  }
  return script + "  }\n}\n";
}

bool IntegrityHolds(const fs::path& database, std::string* answer) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
      SQLITE_OK) {
    *answer = "cannot open";
    sqlite3_close(db);
    return false;
  }
  sqlite3_stmt* statement = nullptr;
  bool ok = sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement,
                               nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW;
  if (ok) {
    const unsigned char* text = sqlite3_column_text(statement, 0);
    *answer = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    ok = *answer == "ok";
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return ok;
}

// How many of the script's calls the registry shows done, checking that
// they are a prefix: every key before the first missing one is there with
// its value, but for the last, whose value may not be set yet; nothing
// after it is there.
int CompletedPrefix(int count, std::string* problem) {
  int present = 0;
  bool lastHasValue = true;
  for (int i = 0; i < count; ++i) {
    char path[32];
    std::snprintf(path, sizeof(path), "QxCrash\\K%03d", i);
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) {
      for (int j = i + 1; j < count; ++j) {
        std::snprintf(path, sizeof(path), "QxCrash\\K%03d", j);
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) ==
            ERROR_SUCCESS) {
          RegCloseKey(key);
          *problem = "K" + std::to_string(j) + " is there after a gap at " +
                     std::to_string(i);
          return -1;
        }
      }
      break;
    }
    if (status != ERROR_SUCCESS) {
      *problem = "open failed with " + std::to_string(status);
      return -1;
    }
    if (!lastHasValue) {
      RegCloseKey(key);
      *problem = "a key before the last lacks its value";
      return -1;
    }
    char expected[8];
    std::snprintf(expected, sizeof(expected), "v%03d", i);
    std::string value = QueryString(key, nullptr);
    RegCloseKey(key);
    if (value == "<2>") {
      lastHasValue = false;
    } else if (value != expected) {
      *problem = "K" + std::to_string(i) + " holds " + value;
      return -1;
    }
    ++present;
  }
  return present;
}

// The host is ended right after each commit of the run in turn, from the
// first to the last: each time the database is whole, holds a prefix of the
// calls, one commit adds at most one call to it, and nothing is left
// locked.
TEST(HostRegistryDatabase, HostKilledAtAnyPointLeavesAPrefixOfItsCalls) {
  constexpr int kCount = 24;
  // Far more commits than the run makes: a run that never ends the walk
  // fails instead of going on.
  constexpr long kMostCommits = 10 * kCount + 50;
  HostSandbox sandbox;
  const fs::path script = sandbox.Write("many.rgs", ManyKeysScript(kCount));
  const std::string registry = sandbox.registry().string();
  const fs::path output = sandbox.root() / "script.out";

  int partial = 0;
  int before = 0;
  bool whole = false;
  for (long n = 1; n <= kMostCommits && !whole; ++n) {
    SCOPED_TRACE("ended after commit " + std::to_string(n));
    fs::remove(sandbox.registry());
    fs::remove(registry + "-wal");
    fs::remove(registry + "-shm");
    BackgroundHost host({"--registry", registry, "script", script.string()},
                        output,
                        {"QX_ABORT_AFTER_REGISTRY_COMMIT=" + std::to_string(n)});
    ASSERT_TRUE(host.started());
    const int status = host.Wait();
    ASSERT_TRUE(WIFEXITED(status)) << "the host crashed on its own";
    if (WEXITSTATUS(status) == 0) {
      whole = true;  // the run made fewer than n commits
    } else {
      ASSERT_EQ(WEXITSTATUS(status), qxplatform::kAbortedAfterRegistryCommit)
          << ReadFile(output);
    }

    std::string answer;
    EXPECT_TRUE(IntegrityHolds(sandbox.registry(), &answer)) << answer;
    std::string error;
    ASSERT_TRUE(qxplatform::OpenRegistryDatabase(registry.c_str(), &error))
        << error;
    std::string problem;
    const int done = CompletedPrefix(kCount, &problem);
    ASSERT_GE(done, 0) << problem;
    EXPECT_GE(done, before) << "a later end holds fewer calls";
    EXPECT_LE(done, before + 1) << "one commit made more than one call";
    if (whole) {
      EXPECT_EQ(done, kCount);
    }
    if (done > 0 && done < kCount) ++partial;
    before = done;
    // Nothing of it is left locked: the next writer goes ahead.
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "QxAfter", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_TRUE(qxplatform::OpenRegistryDatabase(
        (sandbox.root() / "elsewhere.db").c_str(), &error))
        << error;
  }
  EXPECT_TRUE(whole) << "the run went on past " << kMostCommits << " commits";
  // Every call but the last was once the last one done.
  EXPECT_GE(partial, kCount - 1);
}

TEST(HostRegistryDatabase, ImportThatFailsHalfWayChangesNothing) {
  HostSandbox sandbox;
  ASSERT_TRUE(sandbox.SeedRegistry(std::string(kHeader) +
                                   "[HKEY_CURRENT_USER\\Software\\QxKept]\r\n"
                                   "\"Value\"=\"kept\"\r\n"));
  const std::string before = sandbox.RegistryText();
  std::string text = kHeader;
  for (int i = 0; i < 2000; ++i) {
    text += "[HKEY_CURRENT_USER\\Software\\QxHalf\\K" + std::to_string(i) +
            "]\r\n\"V\"=dword:00000001\r\n";
    if (i == 1000) text += "[-HKEY_CURRENT_USER\\Software\\QxKept]\r\n";
  }
  text += "\"Broken\"=dword:notanumber\r\n";
  fs::path file = sandbox.Write("half.reg", text);
  HostRun run = sandbox.RunWithRegistry({"reg", "import", file.string()});
  EXPECT_EQ(run.exitCode, hosttest::kExitFailure);
  EXPECT_NE(run.err.find("nothing was imported"), std::string::npos)
      << run.err;
  EXPECT_EQ(sandbox.RegistryText(), before);
}

TEST(HostRegistryDatabase, RegTextFileAsTheRegistryIsRefusedWithHowToImport) {
  HostSandbox sandbox;
  const std::string text = std::string(kHeader) +
                           "[HKEY_CURRENT_USER\\Software\\QxText]\r\n"
                           "\"Value\"=\"text\"\r\n";
  for (const std::string& bytes :
       {text, std::string("\xEF\xBB\xBF") + text,
        std::string("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\QxOld]\r\n")}) {
    fs::path file = sandbox.Write("old.reg", bytes);
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"reg", "export"},
          std::vector<std::string>{"regsvr32", QX_LIBRARY_PATH}}) {
      std::vector<std::string> all = {"--registry", file.string()};
      all.insert(all.end(), words.begin(), words.end());
      HostRun run = sandbox.Run(all);
      EXPECT_EQ(run.exitCode, hosttest::kExitFailure);
      EXPECT_NE(run.err.find(file.string() + " is a .reg text file"),
                std::string::npos)
          << run.err;
      EXPECT_NE(run.err.find("reg import " + file.string()),
                std::string::npos)
          << run.err;
      EXPECT_EQ(ReadFile(file), bytes);
      EXPECT_FALSE(fs::exists(file.string() + "-wal"));
    }
    // What the message says works.
    HostRun imported = sandbox.Run({"--registry",
                                    (sandbox.root() / "new.db").string(),
                                    "reg", "import", file.string()});
    EXPECT_EQ(imported.exitCode, 0) << imported.err;
  }
}

// A registry file cut short is refused as damaged, named once, and kept as
// it was for whoever can mend it.
TEST(HostRegistryDatabase, RegistryCutShortIsRefusedAsDamaged) {
  HostSandbox sandbox;
  std::string text = kHeader;
  for (int i = 0; i < 300; ++i)
    text += "[HKEY_CURRENT_USER\\Software\\QxCut\\K" + std::to_string(i) +
            "]\r\n\"V\"=\"" + std::string(200, 'v') + "\"\r\n";
  const fs::path whole = sandbox.root() / "whole.db";
  fs::path file = sandbox.Write("cut.reg", text);
  HostRun made = sandbox.Run(
      {"--registry", whole.string(), "reg", "import", file.string()});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const std::string bytes = ReadFile(whole);
  ASSERT_GT(bytes.size(), 8192u);
  const fs::path cut = sandbox.Write("cut.db", bytes.substr(0, bytes.size() / 2));
  HostRun run =
      sandbox.Run({"--registry", cut.string(), "reg", "export"});
  EXPECT_EQ(run.exitCode, hosttest::kExitFailure);
  EXPECT_NE(run.err.find("cannot open the registry " + cut.string() +
                         ": the database is damaged or cut short"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(ReadFile(cut), bytes.substr(0, bytes.size() / 2));
}

// Another program holding the registry's write lock: a registration, an
// unregistration and an import, run together, each fail with the lock's
// status and say so, the registry as it was; once the lock goes, each
// succeeds. A registration never reports success for writes it did not
// make.
TEST(HostRegistryDatabase, HeldWriteLockFailsEachCommandAndLeavesTheRegistry) {
  HostSandbox empty;
  HostSandbox registered;
  ASSERT_TRUE(empty.SeedRegistry(std::string(kHeader) +
                                 "[HKEY_CURRENT_USER\\Software\\QxKept]\r\n"));
  HostRun made = registered.RunWithRegistry({"regsvr32", QX_LIBRARY_PATH});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const fs::path file = empty.Write(
      "more.reg", std::string(kHeader) +
                      "[HKEY_CURRENT_USER\\Software\\QxMore]\r\n\"V\"=\"v\"\r\n");
  const std::string emptyBefore = empty.RegistryText();
  const std::string registeredBefore = registered.RegistryText();

  sqlite3* holders[2] = {nullptr, nullptr};
  const fs::path paths[2] = {empty.registry(), registered.registry()};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(sqlite3_open(paths[i].c_str(), &holders[i]), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holders[i], "BEGIN IMMEDIATE", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
  }
  HostRun runs[3];
  std::thread hosts[3] = {
      std::thread([&] {
        runs[0] = empty.RunWithRegistry({"regsvr32", QX_LIBRARY_PATH});
      }),
      std::thread([&] {
        runs[1] =
            registered.RunWithRegistry({"regsvr32", "-u", QX_LIBRARY_PATH});
      }),
      std::thread([&] {
        runs[2] = empty.RunWithRegistry({"reg", "import", file.string()});
      })};
  for (std::thread& host : hosts) host.join();
  for (const HostRun& run : runs) {
    EXPECT_EQ(run.exitCode, hosttest::kExitFailure) << run.out << run.err;
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(LastLine(runs[i].out), "0x80070021") << runs[i].out;
    EXPECT_NE(runs[i].err.find("another program holds the registry"),
              std::string::npos)
        << runs[i].err;
  }
  EXPECT_NE(runs[2].err.find("nothing was imported"), std::string::npos)
      << runs[2].err;
  EXPECT_EQ(empty.RegistryText(), emptyBefore);
  EXPECT_EQ(registered.RegistryText(), registeredBefore);

  for (sqlite3* holder : holders) {
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
  }
  EXPECT_EQ(empty.RunWithRegistry({"regsvr32", QX_LIBRARY_PATH}).exitCode, 0);
  EXPECT_EQ(
      registered.RunWithRegistry({"regsvr32", "-u", QX_LIBRARY_PATH}).exitCode,
      0);
  EXPECT_EQ(empty.RunWithRegistry({"reg", "import", file.string()}).exitCode,
            0);
}

}  // namespace
