// The registry store: its doors, the closing of handles, the change of
// database with the clean-up of an earlier boot's volatile keys, and the
// direct read the provider probe makes.
#include "registry_store.h"

#include "registry_view.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace qxplatform {
namespace internal {
namespace {

// The kernel's identifier of this boot; empty where there is none.
std::string KernelBootId() {
  int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  char text[64];
  ssize_t got = read(fd, text, sizeof(text));
  close(fd);
  if (got <= 0) return std::string();
  std::string id(text, static_cast<size_t>(got));
  while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
  return id;
}

// The boot that last cleared db's volatile keys, in *seen ("" for none).
LSTATUS ReadBoot(RegistryDb& db, std::string* seen) {
  StatementUse use(db, Sql::kReadBoot);
  if (!use) return use.Failure();
  int rc = sqlite3_step(use.get());
  seen->clear();
  if (rc == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(use.get(), 0);
    if (text != nullptr) *seen = reinterpret_cast<const char*>(text);
    return ERROR_SUCCESS;
  }
  return Finished(rc);
}

LSTATUS WriteBoot(RegistryDb& db, const std::string& boot) {
  StatementUse use(db, Sql::kWriteBoot);
  if (!use) return use.Failure();
  sqlite3_bind_text(use.get(), 1, boot.data(), static_cast<int>(boot.size()),
                    SQLITE_STATIC);
  return Finished(sqlite3_step(use.get()));
}

// Volatile keys last until the system restarts, as on Windows: the first
// process of a new boot to open the database removes those of the last,
// each with its whole tree. Runs on a database no other thread of this
// process has yet, so its transaction needs no door; the boot is read
// again inside it, as another process of this boot may have been first.
LSTATUS ClearVolatileKeysOfEarlierBoots(RegistryDb& db,
                                        const std::string& boot) {
  if (boot.empty()) return ERROR_SUCCESS;
  std::string seen;
  LSTATUS status = ReadBoot(db, &seen);
  if (status != ERROR_SUCCESS || seen == boot) return status;
  Transaction transaction(db);
  status = transaction.Begin(Transaction::Kind::kWrite);
  if (status == ERROR_SUCCESS) status = ReadBoot(db, &seen);
  if (status != ERROR_SUCCESS || seen == boot) return status;
  const DeniedKeys none;
  KeyWriter keys(db, none);
  status = keys.DeleteVolatileTrees();
  if (status == ERROR_SUCCESS) status = WriteBoot(db, boot);
  return status == ERROR_SUCCESS ? transaction.Commit() : status;
}

}  // namespace

RegistryStore::RegistryStore() {
  // A store that cannot be made fails every call: each door's begin
  // answers ERROR_REGISTRY_IO_FAILED on a database that is not open.
  std::string error;
  (void)m_db.OpenMemory(&error);
  // A host is a process of its own: a test that wants it to end at a
  // chosen commit says so in its environment, read once here.
  if (const char* text = getenv("QX_ABORT_AFTER_REGISTRY_COMMIT")) {
    char* end = nullptr;
    const long n = strtol(text, &end, 10);
    if (end != text && *end == '\0' && n > 0) m_abortAfterCommit.Arm(n);
  }
}

RegistryStore& RegistryStore::Instance() {
  static RegistryStore* store = new RegistryStore();  // never destroyed:
  return *store;  // libraries may still close keys while the process exits
}

std::string RegistryStore::CurrentBoot() const {
  return m_bootOverride.empty() ? KernelBootId() : m_bootOverride;
}

LSTATUS RegistryStore::CloseHandle(HKEY handle) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_handles.Find(handle) == nullptr) return ERROR_INVALID_HANDLE;
  // An injected failure leaves the handle open, so a caller that forgets
  // it shows up in OpenRegistryHandles.
  if (m_failClose.ShouldFail()) return ERROR_INVALID_HANDLE;
  return m_handles.Erase(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

bool RegistryStore::UseDatabaseFile(const std::string& path,
                                    std::string* error) {
  std::string boot;
  int busyTimeoutMs = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    boot = CurrentBoot();
    busyTimeoutMs = m_busyTimeoutMs;
  }
  RegistryDb fresh;
  if (!fresh.OpenFile(path, busyTimeoutMs, error)) return false;
  const LSTATUS status = ClearVolatileKeysOfEarlierBoots(fresh, boot);
  if (status != ERROR_SUCCESS) {
    *error = "cannot remove the volatile keys of the last boot (error " +
             std::to_string(status) + "): " + sqlite3_errmsg(fresh.get());
    return false;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_db.Swap(fresh);
  // Handles of the store replaced name nothing in this one.
  m_handles.ForgetDatabase();
  m_denied.clear();
  m_changed = false;
  return true;
}

RegistryReader::RegistryReader(RegistryStore& store, Transaction::Kind kind)
    : m_store(store),
      m_lock(store.m_mutex),
      m_transaction(store.m_db),
      m_began(store.m_failTransaction.ShouldFail()
                  ? store.m_failTransactionStatus
                  : m_transaction.Begin(kind)) {}

LSTATUS RegistryWriter::Commit() {
  if (m_began != ERROR_SUCCESS) return m_began;
  ++m_store.m_writes;
  const LSTATUS status = m_transaction.Commit();
  if (status == ERROR_SUCCESS) m_store.m_changed = true;
  // Nothing flushed, nothing unwound: the database as a crash leaves it.
  if (status == ERROR_SUCCESS && m_store.m_abortAfterCommit.ShouldFail())
    _exit(kRegistryCommitAbortExitCode);
  return status;
}

LSTATUS ReadStoredValue(HKEY root, std::u16string_view path,
                        std::u16string_view valueName, bool* keyExists,
                        RegValue* value) {
  *keyExists = false;
  const RootInfo* rootInfo = FindRootByHandle(root);
  if (rootInfo == nullptr) return ERROR_INVALID_HANDLE;
  KeyLevels levels;
  LSTATUS status = SplitKeyPath(path, &levels);
  if (status != ERROR_SUCCESS) return status;
  RegistryReader reader;
  status = reader.status();
  if (status != ERROR_SUCCESS) return status;
  KeyInfo key;
  if (rootInfo->id == RootId::kClassesRoot) {
    ViewKey root;
    ViewKey found;
    status = ViewRoot(reader.db(), &root);
    if (status == ERROR_SUCCESS)
      status = ViewFindPath(reader.db(), root, levels, &found);
    key = found.Shown();
  } else {
    status = FindPath(reader.db(), RootKey(rootInfo->id), levels, &key);
  }
  if (status != ERROR_SUCCESS) return status;
  *keyExists = key.id != 0;
  return ReadValue(reader.db(), key.id, valueName, value);
}

}  // namespace internal
}  // namespace qxplatform
