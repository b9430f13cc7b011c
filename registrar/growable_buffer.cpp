// GrowableBuffer: the doubling, with its guards, and the block's hand-over.
#include "registrar/growable_buffer.h"

#include "base/result_macros.h"

namespace {

constexpr size_t kMaxSize = static_cast<size_t>(-1);

}  // namespace

HRESULT GrowableBuffer::Make(size_t capacity) {
  if (capacity == 0) capacity = 1;
  void* block = m_allocator.allocate(capacity);
  RETURN_IF_NULL_ALLOC(block);
  m_allocator.free(m_block);
  m_block = block;
  m_capacity = capacity;
  return S_OK;
}

HRESULT GrowableBuffer::Reserve(size_t used, size_t more) {
  // Neither the sum nor a doubling may wrap round: either would leave a
  // block smaller than what is then written into it.
  RETURN_HR_IF(E_OUTOFMEMORY, more > kMaxSize - used);
  const size_t needed = used + more;
  if (needed <= m_capacity) return S_OK;
  size_t grown = m_capacity != 0 ? m_capacity : m_firstCapacity;
  while (grown < needed) {
    RETURN_HR_IF(E_OUTOFMEMORY, grown > kMaxSize / 2);
    grown *= 2;
  }
  void* block = m_allocator.reallocate(m_block, grown);
  RETURN_IF_NULL_ALLOC(block);
  m_block = block;
  m_capacity = grown;
  return S_OK;
}

void* GrowableBuffer::Detach() {
  void* block = m_block;
  m_block = nullptr;
  m_capacity = 0;
  return block;
}
