// The per-module resource cache. Records are keyed by the module handle and
// dropped when the loader releases that handle, before the loader can hand
// the same address out to another module.
#include "resource_cache.h"

#include <algorithm>
#include <memory>
#include <string>
#include <unordered_map>

#include "byte_source.h"
#include "kernel_internal.h"

namespace qxplatform {
namespace internal {
namespace {

using Cache = std::unordered_map<HMODULE, std::unique_ptr<ModuleResources>>;

Cache& TheCache() {
  static Cache& cache = *new Cache;  // lives until the process ends
  return cache;
}

std::unique_ptr<ModuleResources> ReadModule(const std::string& path) {
  auto resources = std::make_unique<ModuleResources>();
  FileSource file;
  resources->status = file.Open(path);
  if (resources->status == ERROR_SUCCESS)
    resources->status = ReadResourceSet(file, &resources->set);
  if (resources->status != ERROR_SUCCESS) {
    resources->set = ResourceSet();
    return resources;
  }
  for (const ResourceEntry& entry : resources->set.entries)
    resources->dataOffsets.push_back(entry.offset);
  std::sort(resources->dataOffsets.begin(), resources->dataOffsets.end());
  return resources;
}

}  // namespace

const ModuleResources* ResourcesOfModule(HMODULE module, DWORD* error) {
  if (module == nullptr) module = GetModuleHandleA(/*lpModuleName=*/nullptr);
  Cache& cache = TheCache();
  auto found = cache.find(module);
  if (found != cache.end()) return found->second.get();
  std::string path;
  if (!ModuleFilePath(module, &path)) {
    *error = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  auto inserted = cache.emplace(module, ReadModule(path));
  return inserted.first->second.get();
}

const ModuleResources* CachedResources(HMODULE module) {
  if (module == nullptr) module = GetModuleHandleA(/*lpModuleName=*/nullptr);
  Cache& cache = TheCache();
  auto found = cache.find(module);
  return found == cache.end() ? nullptr : found->second.get();
}

bool IsHeldResourceData(const void* data) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(data);
  for (const auto& record : TheCache()) {
    const ResourceSet& set = record.second->set;
    const uintptr_t start = reinterpret_cast<uintptr_t>(set.bytes.data());
    if (set.bytes.empty() || address < start ||
        address - start > set.bytes.size())
      continue;
    const std::vector<size_t>& offsets = record.second->dataOffsets;
    if (std::binary_search(offsets.begin(), offsets.end(), address - start))
      return true;
  }
  return false;
}

void ReleaseModuleResources(HMODULE module) { TheCache().erase(module); }

}  // namespace internal
}  // namespace qxplatform
