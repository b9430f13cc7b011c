// The registry store of the process: its database connection, the open key
// handles, the keys marked to refuse write access and the failure controls,
// all behind one lock. Nothing reaches them but through a door: a
// RegistryReader or RegistryWriter takes the lock, begins one transaction
// of its kind and holds both for its lifetime; a writer commits with
// Commit() and otherwise rolls back when it goes (a failed rollback never
// replaces the status the caller already has). The test controls reach
// the failure controls through RegistryTestHooks (registry_test_hooks.h)
// alone.
#pragma once
#include <mutex>
#include <string>
#include <string_view>

#include "registry_handles.h"
#include "registry_key_writer.h"

namespace qxplatform {
namespace internal {

class RegistryStore {
 public:
  // The one store of the process, in memory until a file is named.
  static RegistryStore& Instance();

  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // Whether this RegCreateKeyExA call is the one a test control made fail.
  bool CreateShouldFail() { return m_failCreate.ShouldFail(); }
  // Closes a handle; ERROR_INVALID_HANDLE when it names nothing open (or a
  // close fails on purpose, which leaves it open).
  [[nodiscard]] LSTATUS CloseHandle(HKEY handle);
  // Makes the database file at path this store's, once it passed the
  // checks of the caller; the volatile keys of an earlier boot are removed
  // first. *error says why not.
  [[nodiscard]] bool UseDatabaseFile(const std::string& path,
                                     std::string* error);

 private:
  friend class RegistryReader;
  friend class RegistryWriter;
  friend class RegistryTestHooks;

  RegistryStore();
  // The boot volatile keys belong to: the kernel's, unless a test control
  // named another.
  std::string CurrentBoot() const;

  std::mutex m_mutex;
  RegistryDb m_db;
  HandleTable m_handles;
  DeniedKeys m_denied;
  bool m_standardUser = false;
  // Whether this process committed a change since it named its database.
  bool m_changed = false;
  // Writes this process committed: with the database's data version, what
  // tells an enumeration cursor that its place may have moved.
  uint64_t m_writes = 0;
  std::string m_bootOverride;
  // How long a write waits for another process's lock; a test control
  // shortens it.
  int m_busyTimeoutMs = kRegistryBusyTimeoutMs;
  FailureCountdown m_failCreate;
  FailureCountdown m_failClose;
  FailureCountdown m_failTransaction;
  LSTATUS m_failTransactionStatus = ERROR_SUCCESS;
  // Ends the process right after the n-th committed write, as a crash
  // would there; armed from QX_ABORT_AFTER_REGISTRY_COMMIT when the store
  // is made, or by a test control.
  FailureCountdown m_abortAfterCommit;
};

// A read door: one committed state of the database, seen under the store's
// lock for as long as the reader lives.
class RegistryReader {
 public:
  explicit RegistryReader(RegistryStore& store = RegistryStore::Instance())
      : RegistryReader(store, Transaction::Kind::kRead) {}
  RegistryReader(const RegistryReader&) = delete;
  RegistryReader& operator=(const RegistryReader&) = delete;

  // Whether the transaction began; nothing else may be used unless it did.
  [[nodiscard]] LSTATUS status() const { return m_began; }
  RegistryDb& db() { return m_store.m_db; }
  HandleTable& handles() { return m_store.m_handles; }
  bool IsDenied(KeyId key) const {
    return !m_store.m_denied.empty() && m_store.m_denied.count(key) != 0;
  }
  // Whether the process runs as a standard user, whom the machine's tree
  // (HKEY_LOCAL_MACHINE, and so the machine's classes) refuses writes.
  bool StandardUser() const { return m_store.m_standardUser; }
  bool WriteDenied(RootId tree) const {
    return m_store.m_standardUser && tree == RootId::kLocalMachine;
  }
  uint64_t writes() const { return m_store.m_writes; }

 protected:
  RegistryReader(RegistryStore& store, Transaction::Kind kind);

  RegistryStore& m_store;
  std::lock_guard<std::mutex> m_lock;
  Transaction m_transaction;
  const LSTATUS m_began;
};

// A write door: all of it or nothing, durable once Commit returns.
class RegistryWriter : public RegistryReader {
 public:
  explicit RegistryWriter(RegistryStore& store = RegistryStore::Instance())
      : RegistryReader(store, Transaction::Kind::kWrite),
        m_keys(store.m_db, store.m_denied) {}

  // The only way to add or delete keys.
  KeyWriter& keys() { return m_keys; }
  // Commits, and counts the write so that enumeration cursors know their
  // place may have moved.
  [[nodiscard]] LSTATUS Commit();

 private:
  KeyWriter m_keys;
};

// Reads a value straight from the store, bypassing handles and access
// checks: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when root\path or the value
// is missing (*keyExists tells which), or the status of the failed
// database step or transaction.
[[nodiscard]] LSTATUS ReadStoredValue(HKEY root, std::u16string_view path,
                                      std::u16string_view valueName,
                                      bool* keyExists, RegValue* value);

}  // namespace internal
}  // namespace qxplatform
