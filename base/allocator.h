// An allocator passed in by the caller, for code that serves more than one
// owner: the library hands its module heap to the registrar, while a host or
// a test that runs a script without being a server hands the process heap.
#pragma once
#include <windows.h>

// allocate gives null on failure. reallocate allocates a null block afresh;
// on failure it gives null and the old block stays. free ignores null.
struct Allocator {
  void* (*allocate)(SIZE_T size);
  void* (*reallocate)(void* block, SIZE_T size);
  void (*free)(void* block);
};

// An allocator over the heap that HeapOf() names at each call.
template <auto HeapOf>
struct HeapAllocator {
  static void* Allocate(SIZE_T size) {
    return HeapAlloc(HeapOf(), /*dwFlags=*/0, size);
  }
  static void* Reallocate(void* block, SIZE_T size) {
    if (block == nullptr) return Allocate(size);
    return HeapReAlloc(HeapOf(), /*dwFlags=*/0, block, size);
  }
  static void Free(void* block) {
    if (block != nullptr) HeapFree(HeapOf(), /*dwFlags=*/0, block);
  }
  static constexpr Allocator kAllocator = {&Allocate, &Reallocate, &Free};
};

// The process heap, for hosts and tools that run library code without
// being a server.
inline constexpr Allocator kProcessHeapAllocator =
    HeapAllocator<&GetProcessHeap>::kAllocator;
