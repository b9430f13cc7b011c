// An allocator passed in by the caller, for code that serves more than one
// owner: the library hands its module heap to the registrar, while a host or
// a test that runs a script without being a server hands the process heap.
#pragma once
#include <windows.h>

struct Allocator {
  void* (*allocate)(SIZE_T size);                 // null on failure
  void* (*reallocate)(void* block, SIZE_T size);  // a null block is allocated
                                                  // afresh; on failure null and
                                                  // the old block stays
  void (*free)(void* block);                      // null does nothing
};

namespace process_heap {
inline void* Allocate(SIZE_T size) {
  return HeapAlloc(GetProcessHeap(), /*dwFlags=*/0, size);
}
inline void* Reallocate(void* block, SIZE_T size) {
  if (block == nullptr) return Allocate(size);
  return HeapReAlloc(GetProcessHeap(), /*dwFlags=*/0, block, size);
}
inline void Free(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), /*dwFlags=*/0, block);
}
}  // namespace process_heap

inline constexpr Allocator kProcessHeapAllocator = {
    &process_heap::Allocate, &process_heap::Reallocate, &process_heap::Free};
