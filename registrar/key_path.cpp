// KeyPath: a zero-terminated text in one growable block of the caller's
// allocator, doubled when a level does not fit.
#include "registrar/key_path.h"

#include <string.h>

#include "base/result_macros.h"

namespace {

constexpr size_t kInitialCapacity = 256;
constexpr char kSeparator = '\\';

}  // namespace

KeyPath::KeyPath(const Allocator& allocator)
    : m_text(allocator, kInitialCapacity) {}

HRESULT KeyPath::Push(const char* name) {
  const size_t nameLength = strlen(name);
  const size_t separator = m_length != 0 ? 1 : 0;
  // The separator, the name and the terminating zero, after the path.
  RETURN_IF_FAILED(m_text.Reserve(m_length, separator + nameLength + 1));
  char* text = static_cast<char*>(m_text.Data());
  if (separator != 0) text[m_length] = kSeparator;
  memcpy(text + m_length + separator, name, nameLength + 1);
  m_length += separator + nameLength;
  return S_OK;
}

void KeyPath::Truncate(size_t length) {
  if (length >= m_length) return;
  m_length = length;
  static_cast<char*>(m_text.Data())[m_length] = '\0';
}
