// The module heap: every object, list node and internal table the library
// allocates for itself comes from here. A private main heap, plus on older
// multiprocessor systems a power-of-two set of extra heaps over which
// allocations rotate; blocks from the extra heaps carry a header naming
// their heap. The state lives in the server module's record; this file
// owns what it means.
#pragma once
#include <windows.h>

// Blocks from the extra heaps start with a header whose first slot holds the
// handle of the owning heap; the caller's pointer lies just past it. Two
// pointer-sized slots: 8 bytes on the 32-bit Windows target, and natively
// 16, which keeps blocks on the alignment the platform heap gives.
constexpr SIZE_T kModuleBlockHeaderSize = 2 * sizeof(void*);

// The size of a cache line on the processors the library runs on.
constexpr SIZE_T kCacheLineSize = 64;

struct ModuleHeap {
  HANDLE mainHeap;    // null until created, and after destruction
  DWORD heapMask;     // extra heaps - 1, or 0 when there are none
  HANDLE* heapArray;  // heapMask + 1 handles from the main heap, or null
  // The rotating choice of extra heap. Every allocation writes it, so it
  // has a cache line to itself: the fields above are only read, and threads
  // on other processors keep their copies of them.
  alignas(kCacheLineSize) LONG heapCounter;

  // Creates the main heap and, where the platform calls for them, the
  // extra heaps. Failures leave the heap on whatever could be created:
  // without a main heap every allocation fails; without the array or any
  // of its heaps the main heap serves alone.
  void Create();
  // Destroys the extra heaps, then the main heap (and with it the array).
  // Blocks still allocated go with their heaps.
  void Destroy();

  // Null on failure.
  void* Allocate(SIZE_T size);
  // A null block is allocated afresh; on failure null and the old block
  // stays valid.
  void* Reallocate(void* block, SIZE_T size);
  // Null does nothing.
  void Free(void* block);
};
