// Implicit thread-local data of Windows images: each image that has any gets
// a slot of the thread environment's TLS array, its number stored where the
// image's code looks for it, and every thread gets its own copy of the
// image's template in that slot. The loader gives a thread its copies as the
// thread starts (or loads the image) and takes them back as it ends; an
// image going away takes every copy still held with it.
#pragma once
#include <windows.h>

#include "pe_image.h"

namespace qxplatform {
namespace internal {

// Takes a free slot for the image and stores its number at the image's TLS
// index: *slot, or -1 when the image names no index. ERROR_NOT_ENOUGH_MEMORY
// when every slot is taken.
DWORD AssignThreadDataSlot(const PeImage& image, int* slot);

// Gives the calling thread its copy of the image's data, if it has none
// yet. False when no memory or thread environment can be had.
bool GiveThreadData(const PeImage& image, int slot);

// Frees the calling thread's copy, if it has one.
void TakeThreadData(int slot);

// Frees every thread's copy and the slot: the image is going away.
void ReleaseThreadDataSlot(int slot);

}  // namespace internal
}  // namespace qxplatform
