// The one reader for the host's input files. Opening without blocking and
// checking the descriptor's type before reading keeps a FIFO from holding
// the host up and a device such as /dev/zero from filling memory.
#include "tools/qxhost/system/input_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tools/qxhost/system/posix_holders.h"

namespace qxhost {
namespace {

constexpr size_t kReadChunk = 65536;

std::string SystemError(const char* what, const std::string& path, int number) {
  return std::string(what) + " " + path + ": " + strerror(number);
}

std::string TooLarge(const std::string& path, size_t limit) {
  return path + " is larger than " + std::to_string(limit >> 20) + " MiB";
}

// What is wrong with a file of this mode where a regular file is needed:
// "is a directory" or "is not a regular file"; empty for a regular file.
std::string NotRegularFileReason(mode_t mode) {
  if (S_ISREG(mode)) return std::string();
  if (S_ISDIR(mode)) return "is a directory";
  return "is not a regular file";
}

}  // namespace

bool ReadInputFile(const std::string& path, std::string* bytes,
                   std::string* error, size_t limit) {
  UniqueFd file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    int openError = errno;
    // A socket cannot be opened at all; say what it is rather than ENXIO.
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
      *error = path + " " + NotRegularFileReason(info.st_mode);
    } else {
      *error = SystemError("cannot open", path, openError);
    }
    return false;
  }
  struct stat info;
  if (fstat(file.get(), &info) != 0) {
    *error = SystemError("cannot read", path, errno);
    return false;
  }
  std::string reason = NotRegularFileReason(info.st_mode);
  if (!reason.empty()) {
    *error = path + " " + reason;
    return false;
  }
  if (info.st_size < 0 ||
      static_cast<unsigned long long>(info.st_size) > limit) {
    *error = TooLarge(path, limit);
    return false;
  }

  // The size is only a hint: the file may change while it is read. One byte
  // past the limit is enough to know it is too large.
  std::string text;
  text.reserve(static_cast<size_t>(info.st_size));
  char buffer[kReadChunk];
  while (text.size() <= limit) {
    size_t wanted = std::min(sizeof(buffer), limit + 1 - text.size());
    ssize_t got = read(file.get(), buffer, wanted);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = SystemError("cannot read", path, errno);
      return false;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  if (text.size() > limit) {
    *error = TooLarge(path, limit);
    return false;
  }
  bytes->swap(text);
  return true;
}

}  // namespace qxhost
