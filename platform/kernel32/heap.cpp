// Private heaps. Each heap is our own record that knows its live blocks, so
// destroying a heap releases whatever is still allocated in it, and a handle
// that never was a heap (or was destroyed) is refused instead of followed.
// Blocks come from malloc so that AddressSanitizer sees overruns.
#include <qxplatform/controls.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

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

// Apart on its own cache lines, so two threads on two heaps share nothing.
struct alignas(64) Heap {
  std::mutex lock;  // guards everything below; one per heap, never shared
  std::unordered_map<void*, SIZE_T> blocks;  // block -> requested size
  SIZE_T bytesInUse = 0;
  SIZE_T maximumSize = 0;  // 0: growable
  bool isProcessHeap = false;
  // Set and cleared under the lock; read first without it only to refuse a
  // dead handle early.
  std::atomic<bool> live{false};
};

// Heap records are carved from blocks that are never released, so any
// handle inside one can be looked at without a process-wide lock: a record
// that was destroyed stays readable and says it is no longer live. The
// blocks form a list that only ever grows at its head.
constexpr size_t kHeapsPerBlock = 64;

struct HeapBlock {
  Heap heaps[kHeapsPerBlock];
  HeapBlock* next = nullptr;
};

struct HeapTable {
  std::mutex lock;  // creating and destroying heaps only
  std::atomic<HeapBlock*> blocks{nullptr};
  // Records ready for reuse, oldest first: a handle just destroyed stays
  // refused for as long as possible before it names a new heap.
  std::deque<Heap*> unused;
  std::atomic<long> privateHeaps{0};
  qxplatform::internal::FailureCountdown failAlloc;
  qxplatform::internal::FailureCountdown failCreate;
};

HeapTable& Table() {
  static HeapTable& table = *new HeapTable;  // lives until the process ends
  return table;
}

// The record a handle names, when it names one at all.
Heap* RecordFor(HeapTable& table, HANDLE handle) {
  const auto address = reinterpret_cast<uintptr_t>(handle);
  for (HeapBlock* block = table.blocks.load(std::memory_order_acquire);
       block != nullptr; block = block->next) {
    const auto first = reinterpret_cast<uintptr_t>(&block->heaps[0]);
    if (address < first) continue;
    const uintptr_t offset = address - first;
    if (offset >= sizeof(block->heaps) || offset % sizeof(Heap) != 0) continue;
    return &block->heaps[offset / sizeof(Heap)];
  }
  return nullptr;
}

// Locks the live heap a handle names; false for anything else.
bool LockHeap(HeapTable& table, HANDLE handle, Heap** heap,
              std::unique_lock<std::mutex>* guard) {
  Heap* record = RecordFor(table, handle);
  if (record == nullptr || !record->live.load(std::memory_order_acquire))
    return false;
  std::unique_lock<std::mutex> locked(record->lock);
  // It may have been destroyed between the look and the lock.
  if (!record->live.load(std::memory_order_relaxed)) return false;
  *heap = record;
  *guard = std::move(locked);
  return true;
}

// A record for a new heap, taken live; nullptr when memory runs out.
Heap* NewHeap(HeapTable& table, SIZE_T maximumSize, bool isProcessHeap) {
  Heap* heap = nullptr;
  {
    std::lock_guard<std::mutex> guard(table.lock);
    if (table.unused.empty()) {
      HeapBlock* block = new (std::nothrow) HeapBlock;
      if (block == nullptr) return nullptr;
      for (Heap& record : block->heaps) table.unused.push_back(&record);
      block->next = table.blocks.load(std::memory_order_relaxed);
      table.blocks.store(block, std::memory_order_release);
    }
    heap = table.unused.front();
    table.unused.pop_front();
  }
  std::lock_guard<std::mutex> heapGuard(heap->lock);
  heap->maximumSize = maximumSize;
  heap->isProcessHeap = isProcessHeap;
  heap->live.store(true, std::memory_order_release);
  return heap;
}

bool Fits(const Heap& heap, SIZE_T oldSize, SIZE_T newSize) {
  if (newSize > kLargestRequest) return false;
  if (heap.maximumSize == 0) return true;
  if (newSize > kFixedHeapLargestBlock) return false;
  return heap.bytesInUse - oldSize + newSize <= heap.maximumSize;
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
  Heap* heap = NewHeap(table, dwMaximumSize, /*isProcessHeap=*/false);
  if (heap == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  ++table.privateHeaps;
  return heap;
}

HANDLE WINAPI GetProcessHeap(void) {
  static Heap* processHeap =
      NewHeap(Table(), /*maximumSize=*/0, /*isProcessHeap=*/true);
  return processHeap;
}

BOOL WINAPI HeapDestroy(HANDLE hHeap) {
  HeapTable& table = Table();
  Heap* heap = nullptr;
  std::unique_lock<std::mutex> heapGuard;
  if (!LockHeap(table, hHeap, &heap, &heapGuard) || heap->isProcessHeap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  heap->live.store(false, std::memory_order_release);
  for (auto& block : heap->blocks) free(block.first);
  std::unordered_map<void*, SIZE_T>().swap(heap->blocks);
  heap->bytesInUse = 0;
  heapGuard.unlock();
  --table.privateHeaps;
  std::lock_guard<std::mutex> guard(table.lock);
  table.unused.push_back(heap);
  return TRUE;
}

// Like the real heap, HeapAlloc and HeapReAlloc report failure only through
// their null result; they leave the last error alone.
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  HeapTable& table = Table();
  Heap* heap = nullptr;
  std::unique_lock<std::mutex> heapGuard;
  if (!LockHeap(table, hHeap, &heap, &heapGuard) ||
      (dwFlags & ~kAllocFlags) != 0)
    return nullptr;
  if (table.failAlloc.ShouldFail()) return nullptr;
  if (!Fits(*heap, 0, dwBytes)) return nullptr;
  void* block = (dwFlags & HEAP_ZERO_MEMORY) != 0
                    ? calloc(1, dwBytes != 0 ? dwBytes : 1)
                    : malloc(dwBytes != 0 ? dwBytes : 1);
  if (block == nullptr) return nullptr;
  heap->blocks.emplace(block, dwBytes);
  heap->bytesInUse += dwBytes;
  return block;
}

LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem,
                          SIZE_T dwBytes) {
  HeapTable& table = Table();
  Heap* heap = nullptr;
  std::unique_lock<std::mutex> heapGuard;
  if (lpMem == nullptr || (dwFlags & ~kReAllocFlags) != 0 ||
      !LockHeap(table, hHeap, &heap, &heapGuard))
    return nullptr;
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
  Heap* heap = nullptr;
  std::unique_lock<std::mutex> heapGuard;
  if (!LockHeap(table, hHeap, &heap, &heapGuard)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  (void)dwFlags;
  if (lpMem == nullptr) return TRUE;
  auto found = heap->blocks.find(lpMem);
  if (found == heap->blocks.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  heap->bytesInUse -= found->second;
  heap->blocks.erase(found);
  free(lpMem);
  return TRUE;
}

SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD dwFlags, LPCVOID lpMem) {
  (void)dwFlags;
  constexpr SIZE_T kFailure = static_cast<SIZE_T>(-1);
  HeapTable& table = Table();
  Heap* heap = nullptr;
  std::unique_lock<std::mutex> heapGuard;
  if (lpMem == nullptr || !LockHeap(table, hHeap, &heap, &heapGuard))
    return kFailure;
  auto found = heap->blocks.find(const_cast<void*>(lpMem));
  return found == heap->blocks.end() ? kFailure : found->second;
}

namespace qxplatform {

void FailHeapAllocAt(long n) { Table().failAlloc.Arm(n); }
void FailHeapCreateAt(long n) { Table().failCreate.Arm(n); }
// Each heap counts its own blocks, so allocating touches nothing shared;
// the total is gathered here, heap by heap.
long LiveHeapBlocks() {
  long count = 0;
  for (HeapBlock* block = Table().blocks.load(std::memory_order_acquire);
       block != nullptr; block = block->next) {
    for (Heap& heap : block->heaps) {
      std::lock_guard<std::mutex> guard(heap.lock);
      if (heap.live.load(std::memory_order_relaxed) && !heap.isProcessHeap)
        count += static_cast<long>(heap.blocks.size());
    }
  }
  return count;
}
long LiveHeaps() { return Table().privateHeaps.load(); }
std::map<HANDLE, long> LiveHeapBlocksByHeap() {
  std::map<HANDLE, long> heaps;
  for (HeapBlock* block = Table().blocks.load(std::memory_order_acquire);
       block != nullptr; block = block->next) {
    for (Heap& heap : block->heaps) {
      std::lock_guard<std::mutex> guard(heap.lock);
      if (heap.live.load(std::memory_order_relaxed) && !heap.isProcessHeap)
        heaps[static_cast<HANDLE>(&heap)] = static_cast<long>(heap.blocks.size());
    }
  }
  return heaps;
}

namespace internal {
void ResetHeapControls() {
  Table().failAlloc.Arm(0);
  Table().failCreate.Arm(0);
}
}  // namespace internal

}  // namespace qxplatform
