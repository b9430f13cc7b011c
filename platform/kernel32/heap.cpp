// Private heaps. Each heap is our own record that knows its live blocks, so
// destroying a heap releases whatever is still allocated in it, and a handle
// that never was a heap (or was destroyed) is refused instead of followed.
// Blocks come from malloc so that AddressSanitizer sees overruns.
#include <qxplatform/controls.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <unordered_set>

#include "kernel_internal.h"
#include "platform_internal.h"

namespace {

constexpr DWORD kCreateFlags =
    HEAP_NO_SERIALIZE | HEAP_GENERATE_EXCEPTIONS | 0x00040000 /*enable exec*/;
constexpr DWORD kAllocFlags =
    HEAP_NO_SERIALIZE | HEAP_GENERATE_EXCEPTIONS | HEAP_ZERO_MEMORY;
constexpr DWORD kReAllocFlags = kAllocFlags | HEAP_REALLOC_IN_PLACE_ONLY;
// A fixed-size heap hands out no single block larger than this, as on a
// 32-bit system; bigger requests need a growable heap.
constexpr SIZE_T kFixedHeapLargestBlock = 0x7FFF8;
constexpr SIZE_T kLargestRequest = 0x7FFFFFFF;

struct Heap {
  std::mutex lock;
  std::unordered_map<void*, SIZE_T> blocks;  // block -> requested size
  SIZE_T bytesInUse = 0;
  SIZE_T maximumSize = 0;  // 0: growable
  bool isProcessHeap = false;
};

// Every live heap. Operations hold the set shared, so a heap cannot be
// destroyed under a thread that is using it; HeapDestroy holds it exclusive.
struct HeapTable {
  std::shared_mutex lock;
  std::unordered_set<Heap*> heaps;
  std::atomic<long> privateBlocks{0};
  std::atomic<long> privateHeaps{0};
  qxplatform::internal::FailureCountdown failAlloc;
  qxplatform::internal::FailureCountdown failCreate;
};

HeapTable& Table() {
  static HeapTable& table = *new HeapTable;  // lives until the process ends
  return table;
}

Heap* FindHeap(HeapTable& table, HANDLE handle) {
  Heap* heap = static_cast<Heap*>(handle);
  return table.heaps.count(heap) != 0 ? heap : nullptr;
}

bool Fits(const Heap& heap, SIZE_T oldSize, SIZE_T newSize) {
  if (newSize > kLargestRequest) return false;
  if (heap.maximumSize == 0) return true;
  if (newSize > kFixedHeapLargestBlock) return false;
  return heap.bytesInUse - oldSize + newSize <= heap.maximumSize;
}

void AdjustPrivateBlocks(HeapTable& table, const Heap& heap, long delta) {
  if (!heap.isProcessHeap) table.privateBlocks += delta;
}

}  // namespace

HANDLE WINAPI HeapCreate(DWORD flOptions, SIZE_T dwInitialSize,
                         SIZE_T dwMaximumSize) {
  if ((flOptions & ~kCreateFlags) != 0 ||
      (dwMaximumSize != 0 && dwInitialSize > dwMaximumSize)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HeapTable& table = Table();
  if (table.failCreate.ShouldFail()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Heap* heap = new Heap;
  heap->maximumSize = dwMaximumSize;
  std::unique_lock<std::shared_mutex> guard(table.lock);
  table.heaps.insert(heap);
  ++table.privateHeaps;
  return heap;
}

HANDLE WINAPI GetProcessHeap(void) {
  static Heap* processHeap = [] {
    Heap* heap = new Heap;
    heap->isProcessHeap = true;
    HeapTable& table = Table();
    std::unique_lock<std::shared_mutex> guard(table.lock);
    table.heaps.insert(heap);
    return heap;
  }();
  return processHeap;
}

BOOL WINAPI HeapDestroy(HANDLE hHeap) {
  HeapTable& table = Table();
  std::unique_lock<std::shared_mutex> guard(table.lock);
  Heap* heap = FindHeap(table, hHeap);
  if (heap == nullptr || heap->isProcessHeap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  table.heaps.erase(heap);
  for (auto& block : heap->blocks) free(block.first);
  table.privateBlocks -= static_cast<long>(heap->blocks.size());
  --table.privateHeaps;
  delete heap;
  return TRUE;
}

// Like the real heap, HeapAlloc and HeapReAlloc report failure only through
// their null result; they leave the last error alone.
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  HeapTable& table = Table();
  std::shared_lock<std::shared_mutex> guard(table.lock);
  Heap* heap = FindHeap(table, hHeap);
  if (heap == nullptr || (dwFlags & ~kAllocFlags) != 0) return nullptr;
  if (table.failAlloc.ShouldFail()) return nullptr;
  std::lock_guard<std::mutex> heapGuard(heap->lock);
  if (!Fits(*heap, 0, dwBytes)) return nullptr;
  void* block = (dwFlags & HEAP_ZERO_MEMORY) != 0
                    ? calloc(1, dwBytes != 0 ? dwBytes : 1)
                    : malloc(dwBytes != 0 ? dwBytes : 1);
  if (block == nullptr) return nullptr;
  heap->blocks.emplace(block, dwBytes);
  heap->bytesInUse += dwBytes;
  AdjustPrivateBlocks(table, *heap, 1);
  return block;
}

LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem,
                          SIZE_T dwBytes) {
  HeapTable& table = Table();
  std::shared_lock<std::shared_mutex> guard(table.lock);
  Heap* heap = FindHeap(table, hHeap);
  if (heap == nullptr || lpMem == nullptr || (dwFlags & ~kReAllocFlags) != 0)
    return nullptr;
  std::lock_guard<std::mutex> heapGuard(heap->lock);
  auto found = heap->blocks.find(lpMem);
  if (found == heap->blocks.end()) return nullptr;
  if (table.failAlloc.ShouldFail()) return nullptr;
  SIZE_T oldSize = found->second;
  if (!Fits(*heap, oldSize, dwBytes)) return nullptr;
  void* block = lpMem;
  if (dwBytes > oldSize) {
    // malloc cannot promise to grow in place, so an in-place-only growth is
    // refused, as the real heap refuses it when the next block is in use.
    if ((dwFlags & HEAP_REALLOC_IN_PLACE_ONLY) != 0) return nullptr;
    block = malloc(dwBytes);
    if (block == nullptr) return nullptr;
    memcpy(block, lpMem, oldSize);
    if ((dwFlags & HEAP_ZERO_MEMORY) != 0)
      memset(static_cast<char*>(block) + oldSize, 0, dwBytes - oldSize);
    free(lpMem);
    heap->blocks.erase(found);
    heap->blocks.emplace(block, dwBytes);
  } else {
    found->second = dwBytes;  // shrinking keeps the block where it is
  }
  heap->bytesInUse = heap->bytesInUse - oldSize + dwBytes;
  return block;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
  HeapTable& table = Table();
  std::shared_lock<std::shared_mutex> guard(table.lock);
  Heap* heap = FindHeap(table, hHeap);
  if (heap == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  (void)dwFlags;
  if (lpMem == nullptr) return TRUE;
  std::lock_guard<std::mutex> heapGuard(heap->lock);
  auto found = heap->blocks.find(lpMem);
  if (found == heap->blocks.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  heap->bytesInUse -= found->second;
  heap->blocks.erase(found);
  free(lpMem);
  AdjustPrivateBlocks(table, *heap, -1);
  return TRUE;
}

SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD dwFlags, LPCVOID lpMem) {
  (void)dwFlags;
  constexpr SIZE_T kFailure = static_cast<SIZE_T>(-1);
  HeapTable& table = Table();
  std::shared_lock<std::shared_mutex> guard(table.lock);
  Heap* heap = FindHeap(table, hHeap);
  if (heap == nullptr || lpMem == nullptr) return kFailure;
  std::lock_guard<std::mutex> heapGuard(heap->lock);
  auto found = heap->blocks.find(const_cast<void*>(lpMem));
  return found == heap->blocks.end() ? kFailure : found->second;
}

namespace qxplatform {

void FailHeapAllocAt(long n) { Table().failAlloc.Arm(n); }
void FailHeapCreateAt(long n) { Table().failCreate.Arm(n); }
long LiveHeapBlocks() { return Table().privateBlocks.load(); }
long LiveHeaps() { return Table().privateHeaps.load(); }

namespace internal {
void ResetHeapControls() {
  Table().failAlloc.Arm(0);
  Table().failCreate.Arm(0);
}
}  // namespace internal

}  // namespace qxplatform
