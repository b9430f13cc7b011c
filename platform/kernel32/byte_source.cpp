// Reads for the module file parsers: from memory, or from a file with
// positioned reads that retry after interruptions and short reads.
#include "byte_source.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qxplatform {
namespace internal {

bool ByteSource::ReadBlock(uint64_t offset, uint64_t count,
                           std::vector<BYTE>* out) const {
  // The size is checked before anything is allocated: a header may claim
  // any length.
  if (!Holds(offset, count)) return false;
  out->assign(static_cast<size_t>(count), 0);
  return count == 0 || Read(offset, static_cast<size_t>(count), out->data());
}

FileSource::~FileSource() {
  if (m_fd >= 0) close(m_fd);
}

DWORD FileSource::Open(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    switch (errno) {
      case ENOENT:
        return ERROR_FILE_NOT_FOUND;
      case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
      case EACCES:
      case EPERM:
        return ERROR_ACCESS_DENIED;
      default:
        return ERROR_FILE_NOT_FOUND;
    }
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return ERROR_BAD_EXE_FORMAT;
  }
  m_fd = fd;
  m_size = static_cast<uint64_t>(info.st_size);
  return ERROR_SUCCESS;
}

bool FileSource::Read(uint64_t offset, size_t count, void* out) const {
  if (m_fd < 0 || !Holds(offset, count)) return false;
  BYTE* target = static_cast<BYTE*>(out);
  while (count > 0) {
    ssize_t got = pread(m_fd, target, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    target += got;
    offset += static_cast<uint64_t>(got);
    count -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace internal
}  // namespace qxplatform
