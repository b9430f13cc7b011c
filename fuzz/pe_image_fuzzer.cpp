// libFuzzer target for the PE image mapper: arbitrary bytes mapped as an
// image, bound with a resolver that accepts every import, searched for a
// few exports, protected and unmapped. Besides the sanitizers' checks, every
// step must end with a known status, a refused file must leave nothing
// mapped, and whatever a mapped image hands out (import names, callbacks,
// the entry point, export addresses) must lie inside it.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "pe_image.h"

namespace {

using qxplatform::internal::PeExportLookup;
using qxplatform::internal::PeImage;
using qxplatform::internal::PeImport;

void Check(bool condition) {
  if (!condition) abort();
}

bool Inside(const PeImage& image, const void* address) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(address);
  const uintptr_t base = reinterpret_cast<uintptr_t>(image.base);
  return at >= base && at - base < image.imageSize;
}

// A name is inside and ends inside.
void CheckName(const PeImage& image, const char* name) {
  Check(Inside(image, name));
  const size_t room =
      image.imageSize -
      static_cast<size_t>(reinterpret_cast<const BYTE*>(name) - image.base);
  Check(memchr(name, 0, room) != nullptr);
}

bool Accept(void* context, const PeImport& import, uintptr_t* address,
            DWORD* /*error*/) {
  const PeImage& image = *static_cast<const PeImage*>(context);
  CheckName(image, import.library);
  if (import.name != nullptr) CheckName(image, import.name);
  *address = 0x10001000;
  return true;
}

void LookUp(const PeImage& image, const char* name, WORD ordinal) {
  void* address = nullptr;
  const PeExportLookup result =
      qxplatform::internal::FindPeExport(image, name, ordinal, &address);
  if (result != PeExportLookup::kNotFound) Check(Inside(image, address));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PeImage image;
  std::string failure;
  const DWORD status =
      qxplatform::internal::MapPeImage(data, size, &image, &failure);
  Check(status == ERROR_SUCCESS || status == ERROR_BAD_EXE_FORMAT ||
        status == ERROR_INVALID_ADDRESS || status == ERROR_NOT_ENOUGH_MEMORY);
  if (status != ERROR_SUCCESS) {
    Check(image.base == nullptr && !failure.empty());
    return 0;
  }
  Check(qxplatform::internal::LooksLikePeImage(data, size));
  Check(image.entryRva < image.imageSize);
  for (uintptr_t callback : image.tlsCallbacks)
    Check(Inside(image, reinterpret_cast<void*>(callback)));

  const DWORD bound =
      qxplatform::internal::BindPeImports(&image, Accept, &image, &failure);
  Check(bound == ERROR_SUCCESS || bound == ERROR_BAD_EXE_FORMAT);
  for (const char* name : {"DllGetClassObject", "Alpha", "Gamma", "", "zz"})
    LookUp(image, name, 0);
  for (WORD ordinal : {0, 1, 2, 3, 0xFFFF}) LookUp(image, nullptr, ordinal);

  const DWORD protection = qxplatform::internal::ProtectPeImage(&image);
  Check(protection == ERROR_SUCCESS || protection == ERROR_ACCESS_DENIED ||
        protection == ERROR_NOT_ENOUGH_MEMORY);
  qxplatform::internal::UnmapPeImage(&image);
  Check(image.base == nullptr);
  return 0;
}
