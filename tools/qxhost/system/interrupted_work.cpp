// The record is published by flags a signal handler reads: the text goes
// into its buffer first, then the flag is set, with a signal fence between
// so the compiler keeps that order. Removal in the handler uses only
// openat, getdents64, unlinkat and close, on buffers of its own stack.
#include "tools/qxhost/system/interrupted_work.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

namespace qxhost {
namespace {

char g_what[1024];
char g_folder[PATH_MAX];
volatile sig_atomic_t g_working = 0;
volatile sig_atomic_t g_folderRecorded = 0;
std::atomic<const char*> g_step{nullptr};

// Deeper trees are left for the next install's sweep; a cabinet's entries
// are a few folders deep at most.
constexpr int kMaxDepth = 24;
// A pass that removes nothing ends the loop; this bounds it anyway.
constexpr int kMaxPasses = 64;

size_t TextLength(const char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

void WriteText(int fd, const char* text) {
  size_t length = TextLength(text);
  while (length > 0) {
    ssize_t wrote = write(fd, text, length);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    text += wrote;
    length -= static_cast<size_t>(wrote);
  }
}

bool IsDotEntry(const char* name) {
  return name[0] == '.' &&
         (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void RemoveTreeAt(int parent, const char* name, int depth);

// Removes what the open folder holds, reading it again from the start after
// each batch, since removing entries while reading may skip some.
void EmptyFolder(int folder, int depth) {
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    if (lseek(folder, 0, SEEK_SET) != 0) return;
    alignas(8) char buffer[2048];
    bool removedAny = false;
    for (;;) {
      ssize_t got = getdents64(folder, buffer, sizeof buffer);
      if (got <= 0) break;
      for (ssize_t at = 0; at < got;) {
        const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
        at += entry->d_reclen;
        if (IsDotEntry(entry->d_name)) continue;
        RemoveTreeAt(folder, entry->d_name, depth + 1);
        removedAny = true;
      }
    }
    if (!removedAny) return;
  }
}

void RemoveTreeAt(int parent, const char* name, int depth) {
  if (unlinkat(parent, name, 0) == 0 || errno == ENOENT) return;
  if (depth > kMaxDepth) return;
  int folder = openat(parent, name,
                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return;
  EmptyFolder(folder, depth);
  close(folder);
  unlinkat(parent, name, AT_REMOVEDIR);
}

void CopyBounded(char* to, size_t size, const std::string& from) {
  size_t length = from.size() < size - 1 ? from.size() : size - 1;
  memcpy(to, from.data(), length);
  to[length] = '\0';
}

}  // namespace

InterruptibleWork::InterruptibleWork(const std::string& what) {
  g_working = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  CopyBounded(g_what, sizeof g_what, what);
  g_step.store(nullptr);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  g_working = 1;
}

InterruptibleWork::~InterruptibleWork() {
  g_working = 0;
  g_folderRecorded = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

void SetInterruptibleStep(const char* step) { g_step.store(step); }

void SetInterruptibleFolder(const std::string& folder) {
  g_folderRecorded = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (folder.empty() || folder[0] != '/' || folder.size() >= sizeof g_folder)
    return;
  CopyBounded(g_folder, sizeof g_folder, folder);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  g_folderRecorded = 1;
}

bool StopInterruptedWork(int fd) {
  if (!g_working) return false;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  WriteText(fd, g_what);
  WriteText(fd, " did not end");
  const char* step = g_step.load();
  if (step != nullptr) {
    WriteText(fd, " (");
    WriteText(fd, step);
    WriteText(fd, ")");
  }
  WriteText(fd, "\n");
  if (g_folderRecorded) RemoveTreeAt(AT_FDCWD, g_folder, 0);
  return true;
}

}  // namespace qxhost
