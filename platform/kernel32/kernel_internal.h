// Shared between the kernel-side source files of the platform (heaps, task
// allocator, system information, code pages, loader): the reset hooks that
// ResetKernelControls runs and the few lookups one kernel file offers another.
#pragma once
#include <windows.h>

#include <mutex>
#include <string>

namespace qxplatform {
namespace internal {

// Each restores its file's controls to the defaults.
void ResetHeapControls();
void ResetTaskAllocatorControls();
void ResetSystemInfoControls();
void ResetCodePageControls();

// The file a loaded module (image or data file) came from; false when the
// handle names no loaded module.
bool ModuleFilePath(HMODULE module, std::string* path);

// The loader's lock. The resource functions hold it too, so that a
// module's resources cannot be released while they are being looked at.
std::recursive_mutex& LoaderLock();

// Drops what is held of the resources of a module whose record the loader
// is about to delete (under the loader lock).
void ReleaseModuleResources(HMODULE module);

// True while any thread of the process besides the calling one may still run
// code (or when that cannot be told).
bool OtherThreadsMayRun();

// The address range of a mapped Windows image, from mapping to unmapping,
// so that VirtualQuery reports its pages as Windows does: MEM_IMAGE,
// allocated at the image base, with runs of equal protection as one region.
void NoteImageMapping(const void* base, size_t size);
void ForgetImageMapping(const void* base);
// The size of the Windows image mapped at module's address; 0 when no image
// is mapped there.
size_t MappedImageSize(HMODULE module);

}  // namespace internal
}  // namespace qxplatform
