// The resource functions over the per-module cache. A resource handle
// (HRSRC) is the address of an entry of its module's index and a data
// handle (HGLOBAL) the address of the data itself (in a mapped image, the
// image's own bytes), as on Windows, where LockResource hands the handle
// back. Both are checked against what is held
// before use, so a forged or stale handle is refused, never followed.
#include <windows.h>

#include <mutex>

#include "kernel_internal.h"
#include "resource_cache.h"
#include "resource_lookup.h"

namespace {

using qxplatform::internal::CachedResources;
using qxplatform::internal::LoaderLock;
using qxplatform::internal::ModuleResources;
using qxplatform::internal::ResourceEntry;

// The entry a resource handle of the module stands for; null when it is
// not one.
const ResourceEntry* EntryOf(HMODULE module, HRSRC handle) {
  const ModuleResources* resources = CachedResources(module);
  if (resources == nullptr || handle == nullptr) return nullptr;
  const std::vector<ResourceEntry>& entries = resources->set.entries;
  const uintptr_t address = reinterpret_cast<uintptr_t>(handle);
  const uintptr_t first = reinterpret_cast<uintptr_t>(entries.data());
  if (entries.empty() || address < first) return nullptr;
  const uintptr_t distance = address - first;
  if (distance % sizeof(ResourceEntry) != 0 ||
      distance / sizeof(ResourceEntry) >= entries.size())
    return nullptr;
  return &entries[distance / sizeof(ResourceEntry)];
}

}  // namespace

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
  std::lock_guard<std::recursive_mutex> guard(LoaderLock());
  DWORD error = ERROR_SUCCESS;
  const ModuleResources* resources =
      qxplatform::internal::ResourcesOfModule(hModule, &error);
  if (resources != nullptr && resources->status != ERROR_SUCCESS)
    error = resources->status;
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return nullptr;
  }
  const ResourceEntry* entry = qxplatform::internal::FindResourceEntry(
      resources->set, lpType, lpName, &error);
  if (entry == nullptr) {
    SetLastError(error);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(entry));
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
  std::lock_guard<std::recursive_mutex> guard(LoaderLock());
  const ResourceEntry* entry = EntryOf(hModule, hResInfo);
  if (entry == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const BYTE* data =
      qxplatform::internal::ResourceData(*CachedResources(hModule), *entry);
  return const_cast<BYTE*>(data);
}

LPVOID WINAPI LockResource(HGLOBAL hResData) {
  std::lock_guard<std::recursive_mutex> guard(LoaderLock());
  if (hResData == nullptr ||
      !qxplatform::internal::IsHeldResourceData(hResData))
    return nullptr;
  return hResData;
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  std::lock_guard<std::recursive_mutex> guard(LoaderLock());
  const ResourceEntry* entry = EntryOf(hModule, hResInfo);
  if (entry == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return entry->size;
}
