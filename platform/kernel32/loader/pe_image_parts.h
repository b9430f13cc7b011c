// What the parts of the image mapper share: bounded reads of a mapped image,
// the failure message, and the steps MapPeImage runs, each in its own file.
#pragma once
#include <stdint.h>
#include <windows.h>

#include <string>

#include "byte_source.h"
#include "pe_image.h"

namespace qxplatform {
namespace internal {

// [rva, rva + count) lies inside SizeOfImage, without overflow.
inline bool ImageHolds(const PeImage& image, uint64_t rva, uint64_t count) {
  return rva <= image.imageSize && count <= image.imageSize - rva;
}

// The image's 32-bit address of rva: what the image's own pointers hold.
inline uint32_t ImageAddress(const PeImage& image, uint32_t rva) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(image.base)) + rva;
}

// The text at rva when it is terminated inside the image. Each call spends
// the bytes it scans from *budget and fails once that is spent, so that
// tables pointing many times into one long run of bytes cost no more than
// a bounded multiple of the image.
// How reading a string of the image went: read, or why not.
enum class ImageStringRead { kRead, kOutside, kUnended, kBudgetSpent };
ImageStringRead ImageString(const PeImage& image, uint32_t rva,
                            const char** text, uint64_t* budget);

// Formats *failure (printf style) and returns ERROR_BAD_EXE_FORMAT.
DWORD Damaged(std::string* failure, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Parses and validates the headers of the file into *image (everything but
// the mapping): pe_image_headers.cpp.
DWORD ReadPeHeaders(const BYTE* file, size_t size, PeImage* image,
                    std::string* failure);

// Walks the import tables of a mapped image; with a resolver, binds them,
// without one only checks them: pe_image_imports.cpp.
DWORD WalkPeImports(PeImage* image, PeImportResolver resolver, void* context,
                    std::string* failure);

// Checks that the export tables lie inside the image: pe_image_exports.cpp.
DWORD CheckPeExports(const PeImage& image, std::string* failure);

}  // namespace internal
}  // namespace qxplatform
