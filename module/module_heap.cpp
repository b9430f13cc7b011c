// The module heap: a private main heap, plus on older multiprocessor systems
// a power-of-two set of extra heaps over which allocations rotate so that
// threads on different processors contend less for one heap lock.
#include "module/module_heap.h"

namespace {

// Heaps are growable, start empty and take no flags.
constexpr DWORD kHeapOptions = 0;
constexpr SIZE_T kHeapInitialSize = 0;
constexpr SIZE_T kHeapMaximumSize = 0;  // growable
constexpr DWORD kHeapCallFlags = 0;
// The NT family scales its own heap from this major version on.
constexpr DWORD kScalableHeapMajorVersion = 5;
constexpr DWORD kTopBit = 0x80000000u;
constexpr int kWordBits = 32;

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record is 148 bytes");
static_assert(kModuleBlockHeaderSize >= sizeof(HANDLE) &&
                  kModuleBlockHeaderSize >= 8,
              "the block header holds a heap handle");

HANDLE CreatePrivateHeap() {
  return HeapCreate(kHeapOptions, kHeapInitialSize, kHeapMaximumSize);
}

// One less than the smallest power of two above the processor count.
DWORD ExtraHeapMask(DWORD processorCount) {
  DWORD mask = 0xFFFFFFFFu;
  DWORD probe = processorCount * 2;
  for (int step = 0; step < kWordBits; ++step) {
    if ((probe & kTopBit) != 0) break;
    mask >>= 1;
    probe <<= 1;
  }
  return mask >> 1;
}

bool WantsExtraHeaps(DWORD* processorCount) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  // Without a version record the system is taken for a current one.
  if (!GetVersionExA(&version)) return false;
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
      version.dwMajorVersion >= kScalableHeapMajorVersion) {
    return false;
  }
  SYSTEM_INFO system = {};
  GetSystemInfo(&system);
  *processorCount = system.dwNumberOfProcessors;
  return system.dwNumberOfProcessors > 1;
}

// Creates mask + 1 extra heaps. All or nothing: if the array or any heap
// cannot be had, whatever was created goes again and the main heap
// serves alone.
void CreateExtraHeaps(ModuleHeap& heap, DWORD mask) {
  const SIZE_T count = static_cast<SIZE_T>(mask) + 1;
  if (count > static_cast<SIZE_T>(-1) / sizeof(HANDLE)) return;
  HANDLE* heaps = static_cast<HANDLE*>(
      HeapAlloc(heap.mainHeap, kHeapCallFlags, count * sizeof(HANDLE)));
  if (heaps == nullptr) return;
  for (SIZE_T index = 0; index < count; ++index) {
    heaps[index] = CreatePrivateHeap();
    if (heaps[index] == nullptr) {
      while (index > 0) HeapDestroy(heaps[--index]);
      HeapFree(heap.mainHeap, kHeapCallFlags, heaps);
      return;
    }
  }
  heap.heapArray = heaps;
  heap.heapMask = mask;
}

bool HasExtraHeaps(const ModuleHeap& heap) { return heap.heapArray != nullptr; }

void* HeaderOf(void* block) {
  return static_cast<BYTE*>(block) - kModuleBlockHeaderSize;
}

HANDLE OwnerOf(void* block) { return *static_cast<HANDLE*>(HeaderOf(block)); }

// Stamps the owning heap into a fresh block and gives the caller's part.
void* Stamp(void* whole, HANDLE heap) {
  if (whole == nullptr) return nullptr;
  *static_cast<HANDLE*>(whole) = heap;
  return static_cast<BYTE*>(whole) + kModuleBlockHeaderSize;
}

bool WithHeader(SIZE_T size, SIZE_T* total) {
  if (size > static_cast<SIZE_T>(-1) - kModuleBlockHeaderSize) return false;
  *total = size + kModuleBlockHeaderSize;
  return true;
}

}  // namespace

void ModuleHeap::Create() {
  mainHeap = CreatePrivateHeap();
  if (mainHeap == nullptr) return;
  DWORD processorCount = 0;
  if (!WantsExtraHeaps(&processorCount)) return;
  CreateExtraHeaps(*this, ExtraHeapMask(processorCount));
}

void ModuleHeap::Destroy() {
  if (mainHeap == nullptr) return;
  if (HasExtraHeaps(*this)) {
    for (DWORD index = 0; index <= heapMask; ++index) {
      HeapDestroy(heapArray[index]);
    }
  }
  // The array lives in the main heap and goes with it.
  HeapDestroy(mainHeap);
  mainHeap = nullptr;
  heapArray = nullptr;
  heapMask = 0;
  heapCounter = 0;
}

void* ModuleHeap::Allocate(SIZE_T size) {
  if (mainHeap == nullptr) return nullptr;
  if (!HasExtraHeaps(*this)) {
    return HeapAlloc(mainHeap, kHeapCallFlags, size);
  }
  SIZE_T total = 0;
  if (!WithHeader(size, &total)) return nullptr;
  // The counter only spreads blocks over the heaps, so it is read and
  // written without a lock or an interlocked add: an update lost between two
  // threads only changes which heap the next block comes from, and a locked
  // add would have every allocation wait for the counter's cache line.
  // Unsigned arithmetic: the counter wraps and goes on rotating.
  const DWORD turn =
      static_cast<DWORD>(__atomic_load_n(&heapCounter, __ATOMIC_RELAXED));
  __atomic_store_n(&heapCounter, static_cast<LONG>(turn + 1u),
                   __ATOMIC_RELAXED);
  const HANDLE heap = heapArray[turn & heapMask];
  return Stamp(HeapAlloc(heap, kHeapCallFlags, total), heap);
}

void* ModuleHeap::Reallocate(void* block, SIZE_T size) {
  if (block == nullptr) return Allocate(size);
  if (mainHeap == nullptr) return nullptr;
  if (!HasExtraHeaps(*this)) {
    return HeapReAlloc(mainHeap, kHeapCallFlags, block, size);
  }
  SIZE_T total = 0;
  if (!WithHeader(size, &total)) return nullptr;
  const HANDLE heap = OwnerOf(block);
  return Stamp(HeapReAlloc(heap, kHeapCallFlags, HeaderOf(block), total), heap);
}

void ModuleHeap::Free(void* block) {
  if (block == nullptr) return;
  if (mainHeap == nullptr) return;
  if (!HasExtraHeaps(*this)) {
    HeapFree(mainHeap, kHeapCallFlags, block);
    return;
  }
  HeapFree(OwnerOf(block), kHeapCallFlags, HeaderOf(block));
}
