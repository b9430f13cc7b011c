// The lock file is opened close-on-exec, so a program the host starts
// (the signature checker) holds none of its locks.
#include "tools/qxhost/system/file_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>

#include <utility>

namespace qxhost {

LockResult LockFile(const std::string& path, bool create, LockWait wait,
                    UniqueFd* lock, std::string* error) {
  int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0);
  UniqueFd file(open(path.c_str(), flags, 0600));
  if (!file) {
    int cause = errno;
    *error = "cannot open the lock " + path + ": " + strerror(cause);
    bool missing = cause == ENOENT && !create;
    return missing ? LockResult::kMissing : LockResult::kFailed;
  }
  int operation = LOCK_EX | (wait == LockWait::kTry ? LOCK_NB : 0);
  while (flock(file.get(), operation) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK && wait == LockWait::kTry)
      return LockResult::kBusy;
    *error = "cannot lock " + path + ": " + strerror(errno);
    return LockResult::kFailed;
  }
  *lock = std::move(file);
  return LockResult::kLocked;
}

}  // namespace qxhost
