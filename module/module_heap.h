// The module heap: every object, list node and internal table the library
// allocates for itself comes from here. A private main heap, plus on older
// multiprocessor systems a power-of-two set of extra heaps over which
// allocations rotate; blocks from the extra heaps carry an 8-byte header
// naming their heap.
#pragma once
#include <windows.h>

struct ServerModule;

// Blocks from the extra heaps start with a header whose first slot holds the
// handle of the owning heap; the caller's pointer lies just past it. Two
// pointer-sized slots: 8 bytes on the 32-bit Windows target, and natively
// 16, which keeps blocks on the alignment the platform heap gives.
constexpr SIZE_T kModuleBlockHeaderSize = 2 * sizeof(void*);

// Creates the main heap and, where the platform calls for them, the extra
// heaps. Failures leave the module on whatever could be created: without a
// main heap every allocation fails; without the array or any of its heaps
// the module uses the main heap alone.
void CreateModuleHeaps(ServerModule& module);
// Destroys the extra heaps, then the main heap (and with it the array).
void DestroyModuleHeaps(ServerModule& module);

// Allocation from the current module's heaps. Null on failure.
void* ModuleAlloc(SIZE_T size);
// A null block is allocated afresh; on failure null and the old block stays.
void* ModuleRealloc(void* block, SIZE_T size);
// Null does nothing.
void ModuleFree(void* block);
