// Counting what a benchmark program holds: every operator new in the
// process, the platform library's standard containers included, goes through
// these, so the live total before and after building a registry is what the
// store keeps (malloc's own headers aside), and the peak shows what a load
// needs on the way. Include it in one source file of a program only: it
// replaces the program's global operator new and delete.
#pragma once
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace counted {

inline std::atomic<long long> liveBytes{0};
inline std::atomic<long long> peakBytes{0};

inline long long Live() { return liveBytes.load(); }
// Starts a new peak from what is live now.
inline void MarkPeak() { peakBytes = liveBytes.load(); }
inline long long Peak() { return peakBytes.load(); }

inline void* Allocate(size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  long long live =
      liveBytes.fetch_add(static_cast<long long>(malloc_usable_size(block)),
                          std::memory_order_relaxed) +
      static_cast<long long>(malloc_usable_size(block));
  long long peak = peakBytes.load(std::memory_order_relaxed);
  while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
  }
  return block;
}

inline void Free(void* block) {
  if (block == nullptr) return;
  liveBytes.fetch_sub(static_cast<long long>(malloc_usable_size(block)),
                      std::memory_order_relaxed);
  std::free(block);
}

}  // namespace counted

void* operator new(size_t size) { return counted::Allocate(size); }
void* operator new[](size_t size) { return counted::Allocate(size); }
void operator delete(void* block) noexcept { counted::Free(block); }
void operator delete[](void* block) noexcept { counted::Free(block); }
void operator delete(void* block, size_t) noexcept { counted::Free(block); }
void operator delete[](void* block, size_t) noexcept { counted::Free(block); }
