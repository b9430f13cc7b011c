// RAII holders, so that every exit path releases what it took: a
// traits-driven move-only scoped handle and its instances (registry key,
// task allocator block, loaded library), a block of a caller's allocator, a
// counted COM reference and a critical-section guard. The library, its hosts
// and its tests all use these.
//
// Contracts common to all holders: a holder owns at most one resource; the
// destructor releases it; release() gives it up without releasing it;
// reset(v) releases the old resource and takes v.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <utility>

#include "base/allocator.h"
#include "base/unique_handle.h"

struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type key) { RegCloseKey(key); }
};
struct TaskMemTraits {
  using Type = void*;
  static Type Invalid() { return nullptr; }
  static void Close(Type block) { CoTaskMemFree(block); }
};
struct LibraryTraits {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static void Close(Type module) { FreeLibrary(module); }
};

using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueTaskMem = UniqueHandle<TaskMemTraits>;
using UniqueLibrary = UniqueHandle<LibraryTraits>;

// A block of a caller's allocator, given back to it when the holder goes.
// get() is null when the allocation failed.
class AllocatorBlock {
 public:
  AllocatorBlock(const Allocator& allocator, SIZE_T size)
      : m_allocator(allocator), m_block(allocator.allocate(size)) {}
  ~AllocatorBlock() { m_allocator.free(m_block); }
  AllocatorBlock(const AllocatorBlock&) = delete;
  AllocatorBlock& operator=(const AllocatorBlock&) = delete;

  void* get() const { return m_block; }

 private:
  const Allocator& m_allocator;
  void* m_block;
};

// A counted COM reference: Release on destruction.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(ComPtr&& other) noexcept : m_ptr(other.detach()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) attach(other.detach());
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { attach(nullptr); }

  T* get() const { return m_ptr; }
  T* operator->() const { return m_ptr; }
  explicit operator bool() const { return m_ptr != nullptr; }
  // Slot for an out-parameter that hands over one reference.
  T** put() {
    attach(nullptr);
    return &m_ptr;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  void reset() { attach(nullptr); }
  T* detach() {
    T* ptr = m_ptr;
    m_ptr = nullptr;
    return ptr;
  }
  // Takes over one reference already counted for the caller.
  void attach(T* ptr) {
    if (m_ptr != nullptr) m_ptr->Release();
    m_ptr = ptr;
  }

 private:
  T* m_ptr = nullptr;
};

// Holds a critical section for the guard's scope.
class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(CRITICAL_SECTION& section)
      : m_section(section) {
    EnterCriticalSection(&m_section);
  }
  ~CriticalSectionGuard() { LeaveCriticalSection(&m_section); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

 private:
  CRITICAL_SECTION& m_section;
};
