// Thread-local data of Windows images. The copies are recorded with the TLS
// array they were stored in, so that an image going away can clear its slot
// in every thread's array and free the copies of threads that ended without
// a word (threads the platform did not start). A thread environment is never
// unmapped, only handed to a later thread with its array cleared, so the
// recorded arrays stay valid to write; a slot still owned by its image holds
// either that thread's recorded copy or nothing.
#include "pe_thread_data.h"

#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <vector>

#include "thread_environment.h"

namespace qxplatform {
namespace internal {
namespace {

struct Copy {
  int slot;
  void** array;
  void* data;
};

struct Slots {
  std::mutex lock;
  bool taken[kThreadLocalStorageSlots] = {};
  std::vector<Copy> copies;
};

Slots& State() {
  static Slots& slots = *new Slots;  // lives until the process ends
  return slots;
}

}  // namespace

DWORD AssignThreadDataSlot(const PeImage& image, int* slot) {
  *slot = -1;
  if (image.tlsIndexRva == 0) return ERROR_SUCCESS;
  Slots& slots = State();
  std::lock_guard<std::mutex> guard(slots.lock);
  for (DWORD number = 0; number < kThreadLocalStorageSlots; ++number) {
    if (slots.taken[number]) continue;
    slots.taken[number] = true;
    memcpy(image.base + image.tlsIndexRva, &number, sizeof(number));
    *slot = static_cast<int>(number);
    return ERROR_SUCCESS;
  }
  return ERROR_NOT_ENOUGH_MEMORY;
}

bool GiveThreadData(const PeImage& image, int slot) {
  if (slot < 0) return true;
  void** array = ThreadLocalStorageSlots();
  if (array == nullptr) return false;
  if (array[slot] != nullptr) return true;
  const size_t size = size_t{image.tlsDataSize} + image.tlsZeroFill;
  void* data = calloc(size != 0 ? size : 1, 1);
  if (data == nullptr) return false;
  if (image.tlsDataSize != 0)
    memcpy(data, image.base + image.tlsDataRva, image.tlsDataSize);
  Slots& slots = State();
  std::lock_guard<std::mutex> guard(slots.lock);
  slots.copies.push_back({slot, array, data});
  array[slot] = data;
  return true;
}

void TakeThreadData(int slot) {
  if (slot < 0 || CurrentThreadEnvironment() == nullptr) return;
  void** array = ThreadLocalStorageSlots();
  if (array == nullptr || array[slot] == nullptr) return;
  Slots& slots = State();
  std::lock_guard<std::mutex> guard(slots.lock);
  for (auto it = slots.copies.begin(); it != slots.copies.end(); ++it) {
    if (it->slot == slot && it->array == array && it->data == array[slot]) {
      free(it->data);
      slots.copies.erase(it);
      break;
    }
  }
  array[slot] = nullptr;
}

void ReleaseThreadDataSlot(int slot) {
  if (slot < 0) return;
  Slots& slots = State();
  std::lock_guard<std::mutex> guard(slots.lock);
  for (auto it = slots.copies.begin(); it != slots.copies.end();) {
    if (it->slot != slot) {
      ++it;
      continue;
    }
    if (it->array[slot] == it->data) it->array[slot] = nullptr;
    free(it->data);
    it = slots.copies.erase(it);
  }
  slots.taken[slot] = false;
}

}  // namespace internal
}  // namespace qxplatform
