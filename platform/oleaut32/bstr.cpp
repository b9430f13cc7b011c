// BSTRs in the automation layout: a 32-bit byte length, then the text, then
// a zero OLECHAR that the length does not count. The BSTR points at the text.
// Every BSTR is one task-allocator block, so it is counted and can be failed
// like any other.
#include <objbase.h>
#include <oleauto.h>
#include <string.h>

#include <string>

namespace {

constexpr size_t kPrefixBytes = sizeof(DWORD);
constexpr size_t kTerminatorBytes = sizeof(OLECHAR);
// The byte length must fit the prefix together with the prefix and the
// terminator themselves.
constexpr size_t kLargestByteLength =
    0xFFFFFFFFu - kPrefixBytes - kTerminatorBytes;

// A string of byteLength bytes, copied from source when it is given; the
// bytes behind the text are zero.
BSTR AllocateBytes(const void* source, size_t byteLength) {
  if (byteLength > kLargestByteLength) return nullptr;
  auto* block = static_cast<unsigned char*>(
      CoTaskMemAlloc(kPrefixBytes + byteLength + kTerminatorBytes));
  if (block == nullptr) return nullptr;
  DWORD prefix = static_cast<DWORD>(byteLength);
  memcpy(block, &prefix, kPrefixBytes);
  if (source != nullptr) memcpy(block + kPrefixBytes, source, byteLength);
  memset(block + kPrefixBytes + byteLength, 0, kTerminatorBytes);
  return reinterpret_cast<BSTR>(block + kPrefixBytes);
}

DWORD PrefixOf(BSTR text) {
  DWORD prefix;
  memcpy(&prefix, reinterpret_cast<unsigned char*>(text) - kPrefixBytes,
         kPrefixBytes);
  return prefix;
}

}  // namespace

BSTR WINAPI SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  return AllocateBytes(
      psz, std::char_traits<OLECHAR>::length(psz) * sizeof(OLECHAR));
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  return AllocateBytes(strIn, static_cast<size_t>(ui) * sizeof(OLECHAR));
}

BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len) {
  return AllocateBytes(psz, len);
}

void WINAPI SysFreeString(BSTR bstrString) {
  if (bstrString == nullptr) return;
  CoTaskMemFree(reinterpret_cast<unsigned char*>(bstrString) - kPrefixBytes);
}

UINT WINAPI SysStringLen(BSTR pbstr) {
  return pbstr == nullptr ? 0 : PrefixOf(pbstr) / sizeof(OLECHAR);
}

UINT WINAPI SysStringByteLen(BSTR bstr) {
  return bstr == nullptr ? 0 : PrefixOf(bstr);
}
