// The COM task allocator. Blocks are remembered so that a pointer the
// allocator never handed out is ignored rather than followed, and so that
// tests can count what is still allocated.
#include <objbase.h>
#include <qxplatform/controls.h>
#include <stdlib.h>

#include <mutex>
#include <unordered_set>

#include "kernel_internal.h"
#include "platform_internal.h"

namespace {

struct TaskBlocks {
  std::mutex lock;
  std::unordered_set<void*> live;
  qxplatform::internal::FailureCountdown failAlloc;
};

TaskBlocks& Blocks() {
  static TaskBlocks& blocks = *new TaskBlocks;
  return blocks;
}

}  // namespace

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) {
  TaskBlocks& blocks = Blocks();
  if (blocks.failAlloc.ShouldFail()) return nullptr;
  void* block = malloc(cb != 0 ? cb : 1);
  if (block == nullptr) return nullptr;
  std::lock_guard<std::mutex> guard(blocks.lock);
  blocks.live.insert(block);
  return block;
}

LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  if (pv == nullptr) return CoTaskMemAlloc(cb);
  if (cb == 0) {
    CoTaskMemFree(pv);
    return nullptr;
  }
  TaskBlocks& blocks = Blocks();
  std::lock_guard<std::mutex> guard(blocks.lock);
  auto found = blocks.live.find(pv);
  if (found == blocks.live.end()) return nullptr;
  if (blocks.failAlloc.ShouldFail()) return nullptr;
  void* block = realloc(pv, cb);
  if (block == nullptr) return nullptr;  // the old block stays valid
  blocks.live.erase(found);
  blocks.live.insert(block);
  return block;
}

void WINAPI CoTaskMemFree(LPVOID pv) {
  if (pv == nullptr) return;
  TaskBlocks& blocks = Blocks();
  std::lock_guard<std::mutex> guard(blocks.lock);
  if (blocks.live.erase(pv) != 0) free(pv);
}

namespace qxplatform {

void FailTaskAllocAt(long n) { Blocks().failAlloc.Arm(n); }

long LiveTaskBlocks() {
  TaskBlocks& blocks = Blocks();
  std::lock_guard<std::mutex> guard(blocks.lock);
  return static_cast<long>(blocks.live.size());
}

namespace internal {
void ResetTaskAllocatorControls() { Blocks().failAlloc.Arm(0); }
}  // namespace internal

}  // namespace qxplatform
