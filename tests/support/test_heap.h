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
inline HANDLE Current() { return Handle(); }
}  // namespace test_heap

inline constexpr Allocator kTestHeapAllocator =
    HeapAllocator<&test_heap::Current>::kAllocator;

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
