// KeyPath: a zero-terminated text in one block of the caller's allocator,
// doubled when a level does not fit.
#include "registrar/key_path.h"

#include <string.h>

#include "base/result_macros.h"

namespace {

constexpr size_t kInitialCapacity = 256;
constexpr char kSeparator = '\\';

}  // namespace

KeyPath::~KeyPath() { m_allocator.free(m_text); }

HRESULT KeyPath::Push(const char* name) {
  const size_t nameLength = strlen(name);
  const size_t separator = m_length != 0 ? 1 : 0;
  const size_t needed = m_length + separator + nameLength + 1;
  if (needed > m_capacity) {
    size_t grown = m_capacity != 0 ? m_capacity : kInitialCapacity;
    while (grown < needed) grown *= 2;
    void* block = m_allocator.reallocate(m_text, grown);
    RETURN_IF_NULL_ALLOC(block);
    m_text = static_cast<char*>(block);
    m_capacity = grown;
  }
  if (separator != 0) m_text[m_length] = kSeparator;
  memcpy(m_text + m_length + separator, name, nameLength + 1);
  m_length += separator + nameLength;
  return S_OK;
}

void KeyPath::Truncate(size_t length) {
  if (length >= m_length) return;
  m_length = length;
  m_text[m_length] = '\0';
}
