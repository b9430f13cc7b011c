// A registry that fails under a run: another writer holding the database
// past its time-out, a full disk, an I/O error, a damaged database. Each
// test sweeps over every transaction a run makes, failing exactly that one
// (FailRegistryTransactionAt), and checks for every step:
//  - register mode either succeeds and writes the whole registration, or
//    fails with the registry's own status and leaves the store exactly as it
//    found it;
//  - unregister mode either succeeds and removes what it always removes, or
//    fails with that status, having removed only what the script names, and
//    a second run on a working registry finishes the job.
// A run that reports success for a write the registry did not make fails
// here at the step that was lost.
#include <set>
#include <string>

#include "registrar/registry_failure.h"
#include "registrar_fixture.h"

namespace {

constexpr char16_t kModule[] = u"C:\\qx\\qxKorvex.dll";

// Registrations found in place before a run, with entries of others under
// the keys a ForceRemove replaces, so that the removal has a whole subtree
// of values to record and take back.
constexpr char kOldRegistration[] =
    "[HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex]\r\n@=\"Old Class\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\QxKorvex.InstallKorvex\\CLSID]\r\n"
    "@=\"{00000000-0000-0000-0000-000000000001}\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}]\r\n"
    "@=\"Old Class\"\r\n\"AppID\"=\"{11111111-2222-3333-4444-555555555555}\"\r\n"
    "\"Flags\"=dword:00000003\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}\\"
    "Programmable\\Inside]\r\n\"Bin\"=hex:de,ad\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{EC68AD82-001E-4396-9CDC-ED264E512EE4}\\"
    "InprocServer32]\r\n@=\"C:\\\\old\\\\qxKorvex.dll\"\r\n"
    "\"ThreadingModel\"=\"Both\"\r\n";

// A script with every kind of change register mode makes: values of each
// type written over old ones and added, keys made, a subtree replaced by
// ForceRemove, a key removed by Delete.
constexpr char kMixedScript[] =
    "HKCU { Software { Qx = s 'new' { val Count = d 7 val Bytes = b 00ff "
    "val Name = s 'n' ForceRemove Cache { Fresh = s 'f' } Delete Stale "
    "Made { Deeper = s 'd' } } } }";
constexpr char kMixedBefore[] =
    "[HKEY_CURRENT_USER\\Software\\Qx]\r\n@=\"old\"\r\n"
    "\"Count\"=dword:00000001\r\n\"Other\"=\"kept\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Qx\\Cache]\r\n\"V\"=\"1\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Qx\\Cache\\Inner]\r\n@=hex:01,02\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Qx\\Stale]\r\n@=\"s\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Qx\\Stale\\Below]\r\n";

// An unregister script whose keys hold values it names beside subkeys of
// others, so that it deletes values one by one before the keys go.
constexpr char kValuesScript[] =
    "HKCU { Software { Qx { val Count = d 7 val Name = s 'n' Gone { Deep } "
    "Kept } } }";
constexpr char kValuesBefore[] =
    "[HKEY_CURRENT_USER\\Software\\Qx]\r\n\"Count\"=dword:00000007\r\n"
    "\"Name\"=\"n\"\r\n\"Other\"=\"kept\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Qx\\Gone\\Deep]\r\n@=\"d\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Qx\\Kept\\Foreign]\r\n";

// The ways the store fails that a run must pass on.
constexpr LSTATUS kRegistryFailures[] = {ERROR_LOCK_VIOLATION, ERROR_BADDB,
                                         ERROR_DISK_FULL};

// Every line of an export, each under its section, so that two states can
// be compared line by line whatever the order of the sections.
std::set<std::string> Lines(const std::string& exported) {
  std::set<std::string> lines;
  std::string section;
  size_t start = 0;
  while (start < exported.size()) {
    size_t end = exported.find('\n', start);
    if (end == std::string::npos) end = exported.size();
    std::string line = exported.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    if (line.empty()) continue;
    if (line[0] == '[') section = line;
    lines.insert(section + " " + line);
  }
  return lines;
}

bool IsSubset(const std::set<std::string>& part,
              const std::set<std::string>& whole) {
  for (const std::string& line : part) {
    if (whole.count(line) == 0) return false;
  }
  return true;
}

// Whether a failure armed before a run is still waiting after it, that is,
// the run made fewer transactions than it counted down: a read of the store
// fails then, and uses the failure up.
bool FailureStillArmed() {
  std::string text;
  std::string error;
  return !qxplatform::ExportRegistryText(/*key=*/nullptr, &text, &error);
}

struct Scenario {
  const char* script;     // null: the library's own script
  const char* before;     // .reg sections in place before the run
  bool registeredFirst;   // unregister mode: the script registered first
};

class RegistryFailureTest : public RegistrarTest,
                            public ::testing::WithParamInterface<LSTATUS> {
 protected:
  std::string ScriptOf(const Scenario& scenario) {
    return scenario.script != nullptr ? scenario.script : LibraryScript();
  }
  HRESULT RunOnce(const Scenario& scenario, bool doRegister) {
    return Run(ScriptOf(scenario), doRegister, kModule);
  }

  // The store as the scenario starts it.
  void Prepare(const Scenario& scenario) {
    qxplatform::FailRegistryTransactionAt(0, ERROR_SUCCESS);
    qxplatform::ResetRegistry();
    if (scenario.before != nullptr && scenario.before[0] != '\0') {
      Import(scenario.before);
    }
    if (scenario.registeredFirst) {
      ASSERT_EQ(RunOnce(scenario, /*doRegister=*/true), S_OK);
    }
  }

  // Sweeps the scenario's run, in register or unregister mode, over every
  // transaction it makes.
  void Sweep(const Scenario& scenario, bool doRegister) {
    const LSTATUS status = GetParam();
    Prepare(scenario);
    const std::string before = Export();
    ASSERT_EQ(RunOnce(scenario, doRegister), S_OK);
    const std::string done = Export();
    ASSERT_NE(done, before);

    long failures = 0;
    for (long n = 1;; ++n) {
      Prepare(scenario);
      ASSERT_EQ(Export(), before) << n;
      qxplatform::FailRegistryTransactionAt(n, status);
      const HRESULT hr = RunOnce(scenario, doRegister);
      if (SUCCEEDED(hr)) {
        const bool armed = FailureStillArmed();
        EXPECT_EQ(hr, S_OK) << "transaction " << n;
        EXPECT_EQ(Export(), done)
            << "transaction " << n << " failed, yet the run succeeded";
        EXPECT_TRUE(armed) << "transaction " << n
                           << " failed, yet the run succeeded";
        if (armed || ::testing::Test::HasFailure()) break;
        continue;
      }
      ++failures;
      EXPECT_EQ(hr, HRESULT_FROM_WIN32(status)) << "transaction " << n;
      EXPECT_EQ(m_where.status, hr) << "transaction " << n;
      EXPECT_EQ(m_where.expected, ScriptExpectation::kNone)
          << "transaction " << n;
      EXPECT_EQ(qxplatform::OpenRegistryHandles(), 0) << "transaction " << n;
      if (doRegister) {
        EXPECT_EQ(m_where.rollback, S_OK) << "transaction " << n;
        EXPECT_EQ(Export(), before) << "transaction " << n;
      } else {
        ExpectStoppedPartWay(scenario, before, done, n);
      }
      if (::testing::Test::HasFailure()) break;
    }
    EXPECT_GT(failures, 0);
    ExpectNothingHeld();
  }

  // Unregister mode stopped at transaction n: what stays is still there to
  // read, nothing but what the run removes has gone, and once the registry
  // works again the same run finishes the job.
  void ExpectStoppedPartWay(const Scenario& scenario, const std::string& before,
                            const std::string& done, long n) {
    const std::string stayed = Export();
    EXPECT_TRUE(IsSubset(Lines(done), Lines(stayed)))
        << "transaction " << n << ":\n" << stayed;
    EXPECT_TRUE(IsSubset(Lines(stayed), Lines(before)))
        << "transaction " << n << ":\n" << stayed;
    EXPECT_EQ(RunOnce(scenario, /*doRegister=*/false), S_OK)
        << "transaction " << n;
    EXPECT_EQ(Export(), done) << "transaction " << n;
  }
};

TEST_P(RegistryFailureTest, LibraryRegistrationOnAnEmptyRegistry) {
  Sweep({nullptr, "", false}, /*doRegister=*/true);
}

TEST_P(RegistryFailureTest, LibraryRegistrationOverAnOldOne) {
  Sweep({nullptr, kOldRegistration, false}, /*doRegister=*/true);
}

TEST_P(RegistryFailureTest, ValuesForceRemoveAndDeleteInRegisterMode) {
  Sweep({kMixedScript, kMixedBefore, false}, /*doRegister=*/true);
}

TEST_P(RegistryFailureTest, LibraryUnregistration) {
  Sweep({nullptr, "", true}, /*doRegister=*/false);
}

TEST_P(RegistryFailureTest, LibraryUnregistrationWithEntriesOfOthers) {
  Sweep({nullptr, kOldRegistration, true}, /*doRegister=*/false);
}

TEST_P(RegistryFailureTest, NamedValuesThenKeysInUnregisterMode) {
  Sweep({kValuesScript, kValuesBefore, false}, /*doRegister=*/false);
}

// One step at a time: the run made so that the step under test is the
// transaction failed, found by counting the transactions of a run that
// stops right after it.
class RegistryFailureStepTest : public RegistrarTest {
 protected:
  // How many transactions a run of text makes on the store as prepare
  // leaves it: the first n at which a failure armed before the run is
  // still waiting after it, less one.
  long TransactionsOf(const std::string& text, bool doRegister,
                      void (*prepare)()) {
    for (long n = 1; n < 1000; ++n) {
      qxplatform::FailRegistryTransactionAt(0, ERROR_SUCCESS);
      qxplatform::ResetRegistry();
      prepare();
      qxplatform::FailRegistryTransactionAt(n, ERROR_LOCK_VIOLATION);
      (void)Run(text, doRegister);
      const bool armed = FailureStillArmed();
      qxplatform::FailRegistryTransactionAt(0, ERROR_SUCCESS);
      if (armed) return n - 1;
    }
    ADD_FAILURE() << "no end to the transactions of " << text;
    return 0;
  }

  // The stores the steps start from.
  static void ValueHeldOld() {
    Import("[HKEY_CURRENT_USER\\K]\r\n\"V\"=\"old\"\r\n");
  }

  static void TreeToReplace() {
    Import(
        "[HKEY_CURRENT_USER\\T]\r\n@=\"old\"\r\n\"Other\"=dword:00000002\r\n"
        "\r\n[HKEY_CURRENT_USER\\T\\Inner]\r\n@=\"in\"\r\n");
  }

  static void KeyToRemove() {
    Import("[HKEY_CURRENT_USER\\K]\r\n@=\"v\"\r\n");
  }
};

TEST_F(RegistryFailureStepTest, ValueWriteTheRegistryFailsFailsTheRun) {
  // The write is the run's last transaction, after the read of what the
  // value held.
  const std::string script = "HKCU { K { val V = s 'new' } }";
  const long write = TransactionsOf(script, /*doRegister=*/true, ValueHeldOld);
  ASSERT_GT(write, 1);
  qxplatform::ResetRegistry();
  ValueHeldOld();
  const std::string before = Export();
  qxplatform::FailRegistryTransactionAt(write, ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(Register(script), HRESULT_FROM_WIN32(ERROR_REGISTRY_IO_FAILED));
  EXPECT_EQ(m_where.expected, ScriptExpectation::kNone);
  EXPECT_EQ(m_where.rollback, S_OK);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, "K", "V"), "old");
  EXPECT_EQ(Export(), before);
  ExpectNothingHeld();
}

TEST_F(RegistryFailureStepTest, ForceRemoveTheRegistryFailsFailsTheRun) {
  // A Delete entry removes the tree just as ForceRemove does, and ends
  // there: its last transaction is the delete of T itself, the same step
  // of the ForceRemove entry, which then writes T anew.
  const long removal =
      TransactionsOf("HKCU { Delete T }", /*doRegister=*/true, TreeToReplace);
  ASSERT_GT(removal, 1);
  qxplatform::ResetRegistry();
  TreeToReplace();
  const std::string before = Export();
  qxplatform::FailRegistryTransactionAt(removal, ERROR_LOCK_VIOLATION);
  EXPECT_EQ(Register("HKCU { ForceRemove T = s 'new' }"),
            HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(m_where.rollback, S_OK);
  // Inner, removed before T's own delete failed, is back with its value.
  EXPECT_EQ(Export(), before);
  ExpectNothingHeld();
}

TEST_F(RegistryFailureStepTest, DeleteTheRegistryFailsFailsUnregistration) {
  // The delete of K is the run's last transaction.
  const std::string script = "HKCU { K = s 'v' }";
  const long deletion =
      TransactionsOf(script, /*doRegister=*/false, KeyToRemove);
  ASSERT_GT(deletion, 1);
  qxplatform::ResetRegistry();
  KeyToRemove();
  qxplatform::FailRegistryTransactionAt(deletion, ERROR_BADDB);
  EXPECT_EQ(Unregister(script), HRESULT_FROM_WIN32(ERROR_BADDB));
  EXPECT_EQ(m_where.expected, ScriptExpectation::kNone);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, "K"), "v");
  ExpectNothingHeld();
}

TEST_F(RegistryFailureStepTest, RefusedWritesAreStillPassedOver) {
  // A key that refuses writing is no failure of the registry: its value
  // stays as it was and the run goes on, as the product's scripts expect.
  ValueHeldOld();
  ASSERT_EQ(qxplatform::DenyWriteAccess(HKEY_CURRENT_USER, "K", true),
            ERROR_SUCCESS);
  EXPECT_EQ(Register("HKCU { K { val V = s 'new' } After = s 'a' }"), S_OK);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, "K", "V"), "old");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, "After"), "a");
  ExpectNothingHeld();
}

TEST(RegistryFailureClassTest, RegistryFailuresAreToldFromRefusals) {
  // 1015: the registry is corrupt.
  const LSTATUS failures[] = {ERROR_LOCK_VIOLATION,    ERROR_DISK_FULL,
                              ERROR_REGISTRY_IO_FAILED, ERROR_CANTWRITE,
                              ERROR_CANTREAD,           ERROR_BADDB,
                              ERROR_NOT_ENOUGH_MEMORY,  ERROR_OUTOFMEMORY,
                              1015};
  for (const LSTATUS failed : failures) {
    EXPECT_TRUE(IsRegistryFailure(failed)) << failed;
    EXPECT_EQ(FailureOfRegistry(failed), HRESULT_FROM_WIN32(failed)) << failed;
  }
  const LSTATUS refusals[] = {ERROR_SUCCESS,        ERROR_ACCESS_DENIED,
                              ERROR_INVALID_PARAMETER, ERROR_FILE_NOT_FOUND,
                              ERROR_CHILD_MUST_BE_VOLATILE, ERROR_MORE_DATA,
                              ERROR_NO_MORE_ITEMS};
  for (const LSTATUS refused : refusals) {
    EXPECT_FALSE(IsRegistryFailure(refused)) << refused;
    EXPECT_EQ(FailureOfRegistry(refused), S_OK) << refused;
  }
}

INSTANTIATE_TEST_SUITE_P(Statuses, RegistryFailureTest,
                         ::testing::ValuesIn(kRegistryFailures),
                         [](const ::testing::TestParamInfo<LSTATUS>& info) {
                           switch (info.param) {
                             case ERROR_LOCK_VIOLATION:
                               return std::string("LockTimeOut");
                             case ERROR_BADDB:
                               return std::string("DamagedDatabase");
                             default:
                               return std::string("DiskFull");
                           }
                         });

}  // namespace
