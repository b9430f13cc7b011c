// Holders for the host's POSIX resources, on the one holder template of
// base/holders.h: a file descriptor, closed when the holder goes.
#pragma once
#include <unistd.h>

#include "base/holders.h"

namespace qxhost {

struct FileDescriptorTraits {
  using Type = int;
  static Type Invalid() { return -1; }
  static void Close(Type fd) { close(fd); }
};

using UniqueFd = UniqueHandle<FileDescriptorTraits>;

}  // namespace qxhost
