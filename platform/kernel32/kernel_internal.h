// Shared between the kernel-side source files of the platform (heaps, task
// allocator, system information, code pages, loader): the reset hooks that
// ResetKernelControls runs and the few lookups one kernel file offers another.
#pragma once
#include <windows.h>

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

// True while any thread of the process besides the calling one may still run
// code (or when that cannot be told).
bool OtherThreadsMayRun();

}  // namespace internal
}  // namespace qxplatform
