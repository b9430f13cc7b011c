// One block from a caller's allocator that grows by doubling, for the
// registrar's growing texts and arrays: the preprocessor's output, the undo
// log's records and their texts, the walk's key path, the variables' table.
// Every size it computes is checked against wrapping round, so a request
// too large for a size_t is refused rather than met with a small block.
#pragma once
#include <windows.h>

#include "base/allocator.h"

class GrowableBuffer {
 public:
  // The block comes from allocator, which outlives the buffer; the first
  // growth of an empty buffer starts at firstCapacity bytes (at least 1).
  GrowableBuffer(const Allocator& allocator, size_t firstCapacity)
      : m_allocator(allocator),
        m_firstCapacity(firstCapacity != 0 ? firstCapacity : 1) {}
  ~GrowableBuffer() { m_allocator.free(m_block); }
  GrowableBuffer(const GrowableBuffer&) = delete;
  GrowableBuffer& operator=(const GrowableBuffer&) = delete;

  // Takes a block of exactly capacity bytes (at least 1) in place of the
  // one held, whose bytes are dropped. E_OUTOFMEMORY, with the old block
  // kept, when it cannot be had.
  [[nodiscard]] HRESULT Make(size_t capacity);

  // Room for more bytes after the used ones: the capacity doubles (from
  // firstCapacity when nothing is held) until used + more fits, and the
  // bytes held so far move with the block. E_OUTOFMEMORY, with the block
  // as it was, when the sum or a doubling does not fit a size_t or the
  // allocator has no such block.
  [[nodiscard]] HRESULT Reserve(size_t used, size_t more);

  // Hands the block to the caller, who frees it as the allocator does; the
  // buffer is empty again.
  void* Detach();

  void* Data() const { return m_block; }
  size_t Capacity() const { return m_capacity; }

 private:
  const Allocator& m_allocator;
  const size_t m_firstCapacity;
  void* m_block = nullptr;
  size_t m_capacity = 0;
};
