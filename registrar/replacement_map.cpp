// ReplacementMap: pairs and their array from the caller's allocator, the text
// copies from the task allocator, lookup by ANSI name without regard to case.
#include "registrar/replacement_map.h"

#include <string.h>

#include <new>

#include "base/holders.h"
#include "base/result_macros.h"

namespace {

// A pair name is compared in a buffer of this size; a name that does not
// fit is far longer than any %name% reference and so is never found.
constexpr int kLookupNameBufferSize = 260;

// A task allocator copy of a zero-terminated UTF-16 text, or null.
LPOLESTR CopyWideText(LPCOLESTR text) {
  const SIZE_T bytes =
      (static_cast<SIZE_T>(lstrlenW(text)) + 1) * sizeof(OLECHAR);
  void* block = CoTaskMemAlloc(bytes);
  if (block == nullptr) return nullptr;
  memcpy(block, text, bytes);
  return static_cast<LPOLESTR>(block);
}

}  // namespace

ReplacementMap::~ReplacementMap() { Clear(); }

HRESULT ReplacementMap::Make() {
  if (Entries() != nullptr) return S_OK;
  RETURN_IF_FAILED(m_entries.Make(kInitialCapacity * sizeof(ReplacementPair*)));
  m_count = 0;
  return S_OK;
}

HRESULT ReplacementMap::AddPair(LPCOLESTR name, LPCOLESTR value) {
  RETURN_HR_IF(E_POINTER, name == nullptr || value == nullptr);
  RETURN_IF_NULL_ALLOC(Entries());

  void* pairBlock = m_allocator.allocate(sizeof(ReplacementPair));
  RETURN_IF_NULL_ALLOC(pairBlock);
  UniqueTaskMem nameCopy(CopyWideText(name));
  UniqueTaskMem valueCopy(CopyWideText(value));
  if (nameCopy.get() == nullptr || valueCopy.get() == nullptr ||
      FAILED(m_entries.Reserve(
          static_cast<size_t>(m_count) * sizeof(ReplacementPair*),
          sizeof(ReplacementPair*)))) {
    m_allocator.free(pairBlock);
    return E_OUTOFMEMORY;
  }

  ReplacementPair* pair = new (pairBlock) ReplacementPair;
  pair->name = static_cast<LPOLESTR>(nameCopy.release());
  pair->value = static_cast<LPOLESTR>(valueCopy.release());
  Entries()[m_count++] = pair;
  return S_OK;
}

LPCOLESTR ReplacementMap::Lookup(const char* name) const {
  char ansiName[kLookupNameBufferSize];
  for (LONG i = 0; i < m_count; ++i) {
    const int written =
        WideCharToMultiByte(CP_ACP, 0, Entries()[i]->name, -1, ansiName,
                            kLookupNameBufferSize, /*lpDefaultChar=*/nullptr,
                            /*lpUsedDefaultChar=*/nullptr);
    if (written == 0) continue;
    if (lstrcmpiA(ansiName, name) == 0) return Entries()[i]->value;
  }
  return nullptr;
}

void ReplacementMap::Clear() {
  for (LONG i = 0; i < m_count; ++i) {
    ReplacementPair* pair = Entries()[i];
    CoTaskMemFree(pair->value);
    CoTaskMemFree(pair->name);
    pair->~ReplacementPair();
    m_allocator.free(pair);
  }
  m_count = 0;
}
