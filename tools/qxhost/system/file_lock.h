// Advisory locks between hosts: an exclusive flock on a file, held as long
// as its descriptor is open. A host that dies, however it dies, lets go of
// its locks with its descriptors, so a lock never outlives its owner.
#pragma once
#include <string>

#include "tools/qxhost/system/posix_holders.h"

namespace qxhost {

enum class LockWait { kWait, kTry };

enum class LockResult {
  kLocked,  // *lock holds the descriptor that holds the lock
  kBusy,    // kTry only: another descriptor holds it
  kMissing, // create not set and there is no such file (*error says so)
  kFailed,  // *error says why, naming the file
};

// Opens path (creating it, 0600, when create is set) and locks it.
[[nodiscard]] LockResult LockFile(const std::string& path, bool create,
                                  LockWait wait, UniqueFd* lock,
                                  std::string* error);

}  // namespace qxhost
