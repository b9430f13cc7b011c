// The variables of one registration run: name/value pairs in insertion
// order, looked up by the preprocessor for each %name% reference.
#pragma once
#include <windows.h>
#include <objbase.h>

#include "base/allocator.h"
#include "registrar/growable_buffer.h"

// One variable. The pair comes from the map's allocator; its name and value are
// zero-terminated UTF-16 copies in task allocator blocks, owned by the map.
struct ReplacementPair {
  LPOLESTR name;
  LPOLESTR value;
};

class ReplacementMap {
 public:
  static constexpr ULONG kInitialCapacity = 10;

  // Pairs and their array come from allocator, which outlives the map.
  explicit ReplacementMap(const Allocator& allocator)
      : m_allocator(allocator),
        m_entries(allocator, kInitialCapacity * sizeof(ReplacementPair*)) {}
  ~ReplacementMap();
  ReplacementMap(const ReplacementMap&) = delete;
  ReplacementMap& operator=(const ReplacementMap&) = delete;

  // Takes the array of kInitialCapacity slots from the allocator.
  // E_OUTOFMEMORY when it cannot be had; the map then accepts no pair.
  HRESULT Make();

  // Copies name and value; the map keeps no reference to the caller's text.
  // E_OUTOFMEMORY when the pair, a copy or a larger array cannot be had;
  // the map is then as it was.
  HRESULT AddPair(LPCOLESTR name, LPCOLESTR value);

  // The value of the first pair whose name, in the ANSI code page, equals
  // name without regard to case; null when there is none.
  LPCOLESTR Lookup(const char* name) const;

  // Frees every pair with its copies; the array stays for reuse.
  void Clear();

  LONG Count() const { return m_count; }
  ULONG Capacity() const {
    return static_cast<ULONG>(m_entries.Capacity() / sizeof(ReplacementPair*));
  }

 private:
  ReplacementPair** Entries() const {
    return static_cast<ReplacementPair**>(m_entries.Data());
  }

  const Allocator& m_allocator;
  GrowableBuffer m_entries;
  LONG m_count = 0;
};
