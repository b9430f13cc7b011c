// Host and test controls of the registry: its database file and .reg text,
// emptying it, the failure countdowns for creating and closing keys and for
// its transactions, the process's end after a chosen commit, keys that
// refuse write access, the boot its volatile keys belong to, and the count
// of open handles. They reach the store only
// through its test hooks and its exchange functions.
#include <qxplatform/controls.h>

#include "platform_internal.h"
#include "registry_exchange.h"
#include "registry_test_hooks.h"

namespace qxplatform {
namespace internal {

void ResetRegistryControls() { RegistryTestHooks::ResetFaults(); }

}  // namespace internal

using internal::RegistryTestHooks;

void FailRegCreateAt(long n) { RegistryTestHooks::FailCreateAt(n); }

void FailRegCloseAt(long n) { RegistryTestHooks::FailCloseAt(n); }

void FailRegistryTransactionAt(long n, LSTATUS status) {
  RegistryTestHooks::FailTransactionAt(n, status);
}

LSTATUS DenyWriteAccess(HKEY root, const char* path, bool deny) {
  return RegistryTestHooks::DenyWriteAccess(
      root, internal::AnsiToWide(path == nullptr ? "" : path), deny);
}

void SetStandardUser(bool standard) {
  RegistryTestHooks::SetStandardUser(standard);
}

void AbortAfterRegistryCommit(long n) {
  static_assert(kAbortedAfterRegistryCommit ==
                    internal::kRegistryCommitAbortExitCode,
                "the store ends the process with the status the controls name");
  RegistryTestHooks::AbortAfterCommit(n);
}

void SetRegistryBusyTimeout(DWORD ms) {
  // SQLite counts the wait in an int.
  RegistryTestHooks::SetBusyTimeout(ms > 0x7FFFFFFF ? 0x7FFFFFFF
                                                    : static_cast<int>(ms));
}

void SetRegistryBootId(const char* boot) {
  RegistryTestHooks::SetBoot(boot == nullptr ? std::string() : boot);
}

long OpenRegistryHandles() { return RegistryTestHooks::OpenHandles(); }

void ResetRegistry() { (void)RegistryTestHooks::Clear(); }

bool RegistryChanged() { return RegistryTestHooks::Changed(); }

bool OpenRegistryDatabase(const char* path, std::string* error) {
  return internal::OpenDatabaseFile(path, error);
}

bool ImportRegistryText(const std::string& text, std::string* error) {
  return internal::ImportText(text, error);
}

bool ExportRegistryText(const char* key, std::string* out,
                        std::string* error) {
  return internal::ExportText(key, out, error);
}

bool ExportRegistryTextTo(const char* key, int fd, uint64_t* bytes,
                          bool* fitsImport, std::string* error) {
  return internal::ExportTextToFile(key, fd, bytes, fitsImport, error);
}

}  // namespace qxplatform
