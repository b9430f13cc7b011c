// The generic owner of one resource, parametrized by traits that name its
// type, its empty value and how it is released. Layer-neutral on purpose:
// it includes nothing but the standard library, so that the native
// platform's own holders (its SQLite objects) are this same template
// rather than a copy, while base/holders.h gives the product its Windows
// ones.
//
// Contracts: a holder owns at most one resource; the destructor releases
// it; release() gives it up without releasing it; reset(v) releases the old
// resource and takes v.
#pragma once

#include <utility>

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  explicit UniqueHandle(Type value) : m_value(value) {}
  UniqueHandle(UniqueHandle&& other) noexcept : m_value(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Type get() const { return m_value; }
  explicit operator bool() const { return m_value != Traits::Invalid(); }
  // Address of the slot, for an out-parameter; releases what was held.
  Type* put() {
    reset();
    return &m_value;
  }
  Type release() {
    Type value = m_value;
    m_value = Traits::Invalid();
    return value;
  }
  void reset(Type value = Traits::Invalid()) {
    if (m_value != Traits::Invalid()) Traits::Close(m_value);
    m_value = value;
  }

 private:
  Type m_value = Traits::Invalid();
};
