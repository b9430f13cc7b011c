// The path below its root key of the key the walk is at ("A\B\C", empty at
// the root), grown a level at a time as blocks nest. Register mode names
// keys by it in the undo log, since the handles the walk opens are closed
// long before a roll-back needs them again.
#pragma once
#include <windows.h>

#include "base/allocator.h"
#include "registrar/growable_buffer.h"

class KeyPath {
 public:
  // The text comes from allocator, which outlives the path.
  explicit KeyPath(const Allocator& allocator);
  KeyPath(const KeyPath&) = delete;
  KeyPath& operator=(const KeyPath&) = delete;

  // Zero-terminated; "" at the root.
  const char* Text() const {
    return m_text.Data() != nullptr ? static_cast<const char*>(m_text.Data())
                                    : "";
  }
  size_t Length() const { return m_length; }

  // Appends the level name. E_OUTOFMEMORY, the path unchanged, when the
  // text cannot grow.
  [[nodiscard]] HRESULT Push(const char* name);

  // Back to a length that Length() gave.
  void Truncate(size_t length);

 private:
  GrowableBuffer m_text;
  size_t m_length = 0;
};

// One level of a KeyPath for a scope: whatever Push added is taken off
// again on every way out.
class KeyPathLevel {
 public:
  explicit KeyPathLevel(KeyPath& path)
      : m_path(path), m_length(path.Length()) {}
  ~KeyPathLevel() { m_path.Truncate(m_length); }
  KeyPathLevel(const KeyPathLevel&) = delete;
  KeyPathLevel& operator=(const KeyPathLevel&) = delete;

  [[nodiscard]] HRESULT Push(const char* name) { return m_path.Push(name); }

 private:
  KeyPath& m_path;
  const size_t m_length;
};
