// The import tables of a mapped image: a zero-terminated array of
// descriptors, one per library, each with a zero-terminated lookup table
// (by ordinal when the high bit is set, else the RVA of a hint and a name)
// and the address table the bound addresses go to. MapPeImage walks them
// once to check them; BindPeImports walks them again asking the resolver.
// An import nobody provides does not end the binding walk: every one is
// named, so that whoever reads the refusal can fix them all at once.
// Every loop is bounded by the image: descriptors and lookup entries cannot
// outnumber the bytes they take, and the names read cost a budget of twice
// the image, however often the tables point at the same bytes.
#include <string.h>

#include "pe_image_parts.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr uint32_t kDescriptorLength = 20;
constexpr DWORD kByOrdinal = 0x80000000;
constexpr DWORD kOrdinalUnused = 0x7FFF0000;  // must be clear by ordinal

class ImportWalk {
 public:
  ImportWalk(PeImage* image, PeImportResolver resolver, void* context,
             std::string* failure)
      : m_image(*image),
        m_resolver(resolver),
        m_context(context),
        m_failure(failure),
        m_entries(image->imageSize / 4),
        m_nameBytes(2 * uint64_t{image->imageSize}) {}

  // The tables' status; when they are sound but imports are missing, the
  // first missing one's status, with every missing one named.
  DWORD Run() {
    const DWORD status = Descriptors();
    if (status != ERROR_SUCCESS || m_missing.empty()) return status;
    *m_failure = m_missing;
    return m_firstMissing;
  }

 private:
  DWORD Descriptors() {
    if (m_image.imports.size == 0) return ERROR_SUCCESS;
    for (uint64_t at = m_image.imports.rva;; at += kDescriptorLength) {
      if (!ImageHolds(m_image, at, kDescriptorLength))
        return Damaged(m_failure,
                       "the import descriptors do not end inside the image");
      const BYTE* descriptor = m_image.base + at;
      const uint32_t lookup = ReadDword(descriptor);
      const uint32_t name = ReadDword(descriptor + 12);
      const uint32_t addresses = ReadDword(descriptor + 16);
      if (name == 0 && addresses == 0) return ERROR_SUCCESS;
      const char* library = nullptr;
      const ImageStringRead read =
          ImageString(m_image, name, &library, &m_nameBytes);
      if (read != ImageStringRead::kRead)
        return Damaged(m_failure,
                       "the import descriptor at 0x%llX names a library %s",
                       static_cast<unsigned long long>(at), WhyUnread(read));
      if (addresses == 0)
        return Damaged(m_failure,
                       "the imports from %.64s have no address table", library);
      // Without a lookup table the address table doubles as one.
      const DWORD status =
          Library(library, lookup != 0 ? lookup : addresses, addresses);
      if (status != ERROR_SUCCESS) return status;
    }
  }

  DWORD Library(const char* library, uint32_t lookup, uint32_t addresses) {
    for (uint64_t index = 0;; ++index) {
      const uint64_t entryRva = lookup + 4 * index;
      if (!ImageHolds(m_image, entryRva, 4))
        return Damaged(m_failure,
                       "the imports from %.64s do not end inside the image",
                       library);
      const DWORD entry = ReadDword(m_image.base + entryRva);
      if (entry == 0) return ERROR_SUCCESS;
      if (m_entries-- == 0)
        return Damaged(m_failure,
                       "the import tables are larger than the image");
      const uint64_t slot = addresses + 4 * index;
      if (!ImageHolds(m_image, slot, 4))
        return Damaged(m_failure,
                       "the address table of %.64s lies outside the image",
                       library);
      PeImport import = {library, nullptr, 0, 0};
      if ((entry & kByOrdinal) != 0) {
        if ((entry & kOrdinalUnused) != 0)
          return Damaged(
              m_failure,
              "import %llu from %.64s has a bad ordinal entry 0x%08X",
              static_cast<unsigned long long>(index + 1), library, entry);
        import.ordinal = static_cast<WORD>(entry);
      } else {
        const ImageStringRead read =
            ImageHolds(m_image, entry, 2)
                ? ImageString(m_image, entry + 2, &import.name, &m_nameBytes)
                : ImageStringRead::kOutside;
        if (read != ImageStringRead::kRead)
          return Damaged(m_failure, "import %llu from %.64s has its name %s",
                         static_cast<unsigned long long>(index + 1), library,
                         WhyUnread(read));
        import.hint = ReadWord(m_image.base + entry);
      }
      if (m_resolver != nullptr) {
        const DWORD status = Bind(import, m_image.base + slot);
        if (status != ERROR_SUCCESS) return status;
      }
    }
  }

  DWORD Bind(const PeImport& import, BYTE* slot) {
    uintptr_t address = 0;
    DWORD error = ERROR_PROC_NOT_FOUND;
    if (!m_resolver(m_context, import, &address, &error)) {
      if (error == ERROR_SUCCESS) error = ERROR_PROC_NOT_FOUND;
      // Anything but a missing import (no memory for a stub) ends the walk.
      if (error != ERROR_MOD_NOT_FOUND && error != ERROR_PROC_NOT_FOUND) {
        *m_failure = ImportName(import);
        return error;
      }
      NoteMissing(import, error);
      return ERROR_SUCCESS;
    }
    // The image's pointers are 32 bits wide.
    const uint32_t stored = static_cast<uint32_t>(address);
    memcpy(slot, &stored, 4);
    return ERROR_SUCCESS;
  }

  // What a name that could not be read is, for the refusal's text.
  static const char* WhyUnread(ImageStringRead read) {
    switch (read) {
      case ImageStringRead::kOutside:
        return "outside the image";
      case ImageStringRead::kUnended:
        return "that does not end inside the image";
      default:
        return "past what the import tables may read (names read add up to "
               "twice the image)";
    }
  }

  // LIBRARY!Name, LIBRARY!#ordinal; an empty name is spelled out, so that
  // the text never reads as a name cut short.
  static std::string ImportName(const PeImport& import) {
    const std::string library =
        import.library[0] != '\0' ? import.library : "(a library with an empty name)";
    if (import.name == nullptr)
      return library + "!#" + std::to_string(import.ordinal);
    return library + "!" +
           (import.name[0] != '\0' ? std::string(import.name)
                                    : std::string("(an empty function name)"));
  }

  void NoteMissing(const PeImport& import, DWORD error) {
    if (m_missing.empty()) {
      m_firstMissing = error;
    } else {
      m_missing += "; ";
    }
    m_missing += ImportName(import);
    m_missing += error == ERROR_MOD_NOT_FOUND ? " (no such library)"
                                              : " (no such function)";
  }

  const PeImage& m_image;
  PeImportResolver m_resolver;
  void* m_context;
  std::string* m_failure;
  uint64_t m_entries;    // lookup entries still allowed
  uint64_t m_nameBytes;  // name bytes still allowed
  std::string m_missing;  // every import the resolver had no answer for
  DWORD m_firstMissing = ERROR_SUCCESS;
};

}  // namespace

DWORD WalkPeImports(PeImage* image, PeImportResolver resolver, void* context,
                    std::string* failure) {
  return ImportWalk(image, resolver, context, failure).Run();
}

}  // namespace internal
}  // namespace qxplatform
