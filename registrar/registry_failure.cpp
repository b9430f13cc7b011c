// IsRegistryFailure: the statuses by which the registry says it could not do
// its work at all, whatever was asked of it. Every other status is an
// answer about the request, which a script run may pass over.
#include "registrar/registry_failure.h"

#include "base/result_macros.h"

namespace {

// Statuses of the registry that not every header set this builds against
// names.
constexpr LSTATUS kHandleDiskFull = 39;           // ERROR_HANDLE_DISK_FULL
constexpr LSTATUS kRegistryCorrupt = 1015;        // ERROR_REGISTRY_CORRUPT
constexpr LSTATUS kNoSystemResources = 1450;      // ERROR_NO_SYSTEM_RESOURCES

}  // namespace

bool IsRegistryFailure(LSTATUS status) {
  switch (status) {
    // Another writer holds the database past the time-out.
    case ERROR_LOCK_VIOLATION:
    // The database cannot grow.
    case ERROR_DISK_FULL:
    case kHandleDiskFull:
    // The database could not be read or written.
    case ERROR_REGISTRY_IO_FAILED:
    case ERROR_CANTOPEN:
    case ERROR_CANTREAD:
    case ERROR_CANTWRITE:
    // The database is damaged.
    case ERROR_BADDB:
    case kRegistryCorrupt:
    // The registry had no memory left for the request.
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case kNoSystemResources:
    // The key went under the run, deleted by another writer or with the
    // database the process used: nothing the run writes there stays.
    case ERROR_KEY_DELETED:
      return true;
    default:
      return false;
  }
}

HRESULT FailureOfRegistry(LSTATUS status) {
  return IsRegistryFailure(status) ? HResultFromWin32(status) : S_OK;
}
