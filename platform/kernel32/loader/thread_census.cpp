// Whether the calling thread is the only one of the process still able to
// run code. The loader asks at process exit: the real system has ended every
// other thread by then, this platform cannot, and a library must not be told
// to clean up while another thread may still be inside it.
//
// Each task under /proc/self/task is read through its stat line. A thread
// that the kernel is already taking down (PF_EXITING in its flags, a zombie,
// or one whose stat reads empty or has gone) runs no more user code: a host
// that has joined its workers counts as single-threaded even in the moment
// before the kernel lets go of their records. Anything that cannot be read
// for another reason counts as running, the safe answer.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "kernel_internal.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr char kTaskDirectory[] = "/proc/self/task";
// include/linux/sched.h: the thread has begun to exit.
constexpr unsigned long kThreadExiting = 0x00000004;
// The stat line's fields after the command name, up to the flags:
// state ppid pgrp session tty_nr tpgid flags.
constexpr int kFieldsUpToFlags = 7;

enum class TaskState { kRunning, kEnding, kUnknown };

TaskState ReadTaskState(const char* taskId) {
  char path[64];
  snprintf(path, sizeof(path), "%s/%s/stat", kTaskDirectory, taskId);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT || errno == ESRCH ? TaskState::kEnding
                                             : TaskState::kUnknown;
  char line[1024];
  ssize_t length;
  do {
    length = read(fd, line, sizeof(line) - 1);
  } while (length < 0 && errno == EINTR);
  int readError = errno;
  close(fd);
  if (length < 0)
    return readError == ESRCH ? TaskState::kEnding : TaskState::kUnknown;
  if (length == 0) return TaskState::kEnding;
  line[length] = '\0';
  // The command name is in parentheses and may hold any character, ')' too.
  const char* fields = strrchr(line, ')');
  if (fields == nullptr) return TaskState::kUnknown;
  char state = '\0';
  int parent, group, session, terminal, terminalGroup;
  unsigned long flags = 0;
  if (sscanf(fields + 1, " %c %d %d %d %d %d %lu", &state, &parent, &group,
             &session, &terminal, &terminalGroup, &flags) != kFieldsUpToFlags)
    return TaskState::kUnknown;
  if (state == 'Z' || state == 'X' || state == 'x' ||
      (flags & kThreadExiting) != 0)
    return TaskState::kEnding;
  return TaskState::kRunning;
}

}  // namespace

bool OtherThreadsMayRun() {
  DIR* tasks = opendir(kTaskDirectory);
  if (tasks == nullptr) return true;
  const long self = syscall(SYS_gettid);
  bool others = false;
  while (!others) {
    const dirent* entry = readdir(tasks);
    if (entry == nullptr) break;
    char* end = nullptr;
    long taskId = strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || taskId == self) continue;
    others = ReadTaskState(entry->d_name) != TaskState::kEnding;
  }
  closedir(tasks);
  return others;
}

}  // namespace internal
}  // namespace qxplatform
