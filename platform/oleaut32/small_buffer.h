// A run of count objects that lives on the stack when it is short and on
// the heap when it is not, so the common call allocates nothing. Only the
// count objects asked for are constructed.
#pragma once
#include <stddef.h>

#include <memory>
#include <new>

namespace qxplatform {
namespace internal {

template <typename T, size_t kLocal>
class SmallBuffer {
 public:
  explicit SmallBuffer(size_t count) : m_count(count) {
    if (count > kLocal) {
      m_heap.reset(new T[count]);
      m_data = m_heap.get();
      return;
    }
    m_data = reinterpret_cast<T*>(m_local);
    for (size_t i = 0; i < count; ++i) new (&m_data[i]) T();
  }
  ~SmallBuffer() {
    if (m_heap) return;
    for (size_t i = m_count; i > 0; --i) m_data[i - 1].~T();
  }
  SmallBuffer(const SmallBuffer&) = delete;
  SmallBuffer& operator=(const SmallBuffer&) = delete;

  T& operator[](size_t index) { return m_data[index]; }
  T* data() { return m_data; }

 private:
  size_t m_count;
  T* m_data;
  std::unique_ptr<T[]> m_heap;
  alignas(T) unsigned char m_local[sizeof(T) * kLocal];
};

}  // namespace internal
}  // namespace qxplatform
