// A private heap for code that takes its allocator from the caller (the
// registrar), so that the platform counts its blocks and a leak shows, and
// so that an injected heap failure reaches it as it would the module heap.
#pragma once
#include <windows.h>

#include "base/allocator.h"

namespace test_heap {
inline HANDLE& Handle() {
  static HANDLE heap = nullptr;
  return heap;
}
inline void* Allocate(SIZE_T size) {
  return HeapAlloc(Handle(), /*dwFlags=*/0, size);
}
inline void* Reallocate(void* block, SIZE_T size) {
  if (block == nullptr) return Allocate(size);
  return HeapReAlloc(Handle(), /*dwFlags=*/0, block, size);
}
inline void Free(void* block) {
  if (block != nullptr) HeapFree(Handle(), /*dwFlags=*/0, block);
}
}  // namespace test_heap

inline constexpr Allocator kTestHeapAllocator = {
    &test_heap::Allocate, &test_heap::Reallocate, &test_heap::Free};

// Creates the test heap for the holder's lifetime.
class ScopedTestHeap {
 public:
  ScopedTestHeap() {
    test_heap::Handle() = HeapCreate(/*flOptions=*/0, /*dwInitialSize=*/0,
                                     /*dwMaximumSize=*/0);
  }
  ~ScopedTestHeap() {
    HeapDestroy(test_heap::Handle());
    test_heap::Handle() = nullptr;
  }
  ScopedTestHeap(const ScopedTestHeap&) = delete;
  ScopedTestHeap& operator=(const ScopedTestHeap&) = delete;
};
