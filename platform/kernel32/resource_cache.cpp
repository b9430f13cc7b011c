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

std::unique_ptr<ModuleResources> ReadModule(HMODULE module,
                                            const std::string& path) {
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
  const ResourceSet& set = resources->set;
  const size_t imageSize = MappedImageSize(module);
  if (set.sectionMappedSize != 0 &&
      uint64_t{set.sectionAddress} + set.sectionMappedSize <= imageSize)
    resources->mapped =
        reinterpret_cast<const BYTE*>(module) + set.sectionAddress;
  return resources;
}

// Whether address is the start of an entry's data in bytes at start.
bool IsDataIn(const ModuleResources& resources, const BYTE* start,
              size_t length, uintptr_t address) {
  const uintptr_t first = reinterpret_cast<uintptr_t>(start);
  if (start == nullptr || address < first || address - first > length)
    return false;
  const std::vector<size_t>& offsets = resources.dataOffsets;
  return std::binary_search(offsets.begin(), offsets.end(), address - first);
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
  auto inserted = cache.emplace(module, ReadModule(module, path));
  return inserted.first->second.get();
}

const ModuleResources* CachedResources(HMODULE module) {
  if (module == nullptr) module = GetModuleHandleA(/*lpModuleName=*/nullptr);
  Cache& cache = TheCache();
  auto found = cache.find(module);
  return found == cache.end() ? nullptr : found->second.get();
}

const BYTE* ResourceData(const ModuleResources& resources,
                         const ResourceEntry& entry) {
  if (resources.mapped != nullptr &&
      entry.offset <= resources.set.sectionMappedSize &&
      entry.size <= resources.set.sectionMappedSize - entry.offset)
    return resources.mapped + entry.offset;
  return resources.set.bytes.data() + entry.offset;
}

bool IsHeldResourceData(const void* data) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(data);
  for (const auto& record : TheCache()) {
    const ModuleResources& resources = *record.second;
    const ResourceSet& set = resources.set;
    if (set.bytes.empty()) continue;
    if (IsDataIn(resources, set.bytes.data(), set.bytes.size(), address) ||
        IsDataIn(resources, resources.mapped, set.sectionMappedSize, address))
      return true;
  }
  return false;
}

void ReleaseModuleResources(HMODULE module) { TheCache().erase(module); }

}  // namespace internal
}  // namespace qxplatform
