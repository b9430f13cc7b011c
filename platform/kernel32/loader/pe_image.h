// A PE32 (i386) image mapped into memory as the Windows loader lays it out:
// headers and sections at their RVAs, base relocations applied, imports
// bound through a resolver the caller supplies, then the protections of the
// sections. Nothing here runs the image, so a 64-bit process can map one as
// well (its addresses are then taken modulo 2^32, and only the low 32 bits of
// a bound address are stored). Every structure of the file is validated
// before it is used; a damaged file gets ERROR_BAD_EXE_FORMAT and a short
// message saying what is wrong.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <windows.h>

#include <string>
#include <vector>

namespace qxplatform {
namespace internal {

// One imported function. The strings point into the mapped image and stay
// valid until it is unmapped.
struct PeImport {
  const char* library;  // as the image names it, e.g. "KERNEL32.dll"
  const char* name;     // null when imported by ordinal
  WORD ordinal;         // when by ordinal; 0 when by name
  WORD hint;            // when by name: the exporter's likely name index
};

// Binds one import: true with the address to store in the import address
// table, or false with *error (ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND).
using PeImportResolver = bool (*)(void* context, const PeImport& import,
                                  uintptr_t* address, DWORD* error);

struct PeDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;  // both 0 when the image has none
};

struct PeSection {
  char name[9] = {};  // as stored, terminated
  uint32_t rva = 0;
  uint32_t extent = 0;     // its memory, rounded to the section alignment
  uint32_t rawOffset = 0;  // the file bytes copied to rva
  uint32_t rawSize = 0;
  DWORD characteristics = 0;  // IMAGE_SCN_*
};

struct PeImage {
  BYTE* base = nullptr;    // the mapping
  size_t size = 0;         // SizeOfImage rounded to whole pages
  uint32_t imageSize = 0;  // SizeOfImage: every RVA of the image lies below
  uint32_t headersSize = 0;
  uint32_t sectionAlignment = 0;
  uint32_t preferredBase = 0;
  bool relocated = false;    // mapped elsewhere; the relocations were applied
  WORD characteristics = 0;  // of the file: IMAGE_FILE_DLL, ...
  // The entry point; 0 when there is none or the image is not a DLL (then
  // it is mapped but its entry is never called, as Windows does).
  uint32_t entryRva = 0;
  // The TLS callbacks as absolute addresses, in order (after relocation).
  std::vector<uintptr_t> tlsCallbacks;
  // Implicit thread-local data: each thread's copy is tlsDataSize bytes of
  // the template at tlsDataRva followed by tlsZeroFill zero bytes, and the
  // image finds it through the slot whose number the loader stores at
  // tlsIndexRva. tlsIndexRva is 0 when the image has no TLS directory or
  // names no index.
  uint32_t tlsIndexRva = 0;
  uint32_t tlsDataRva = 0;
  uint32_t tlsDataSize = 0;
  uint32_t tlsZeroFill = 0;
  std::vector<PeSection> sections;  // in file order, ascending RVAs
  PeDirectory exports;
  PeDirectory imports;
  PeDirectory relocations;
  PeDirectory tls;
};

// Decides PE against any other kind of file (ELF): an MZ header whose
// e_lfanew points at "PE\0\0" inside the file.
bool LooksLikePeImage(const BYTE* file, size_t size);

// Validates the file and maps it: reserves SizeOfImage at the preferred base
// or else anywhere (below 4 GiB first in a 64-bit process), copies the
// headers and sections, applies the base relocations when it moved, reads the
// TLS callbacks and data template, and checks the import and export tables. Everything stays
// writable for binding. ERROR_SUCCESS; else nothing stays mapped and the
// result is ERROR_BAD_EXE_FORMAT (damaged, or not an i386 PE32 image),
// ERROR_INVALID_ADDRESS (no relocations, and its preferred range is taken)
// or ERROR_NOT_ENOUGH_MEMORY, with *failure saying why.
DWORD MapPeImage(const BYTE* file, size_t size, PeImage* image,
                 std::string* failure);

// Asks the resolver for every import, in table order, and stores each
// address in the import address table; before ProtectPeImage, which may
// leave that table read-only. ERROR_SUCCESS; or, when the resolver has no
// answer for some imports, the first one's error (ERROR_MOD_NOT_FOUND or
// ERROR_PROC_NOT_FOUND) with *failure naming every one of them in table
// order, each with what is missing: "KERNEL32.dll!Beep (no such function);
// VERSION.dll!GetFileVersionInfoSizeA (no such library); OLEAUT32.dll!#9 (no
// such function)"; any other resolver error at once, with *failure naming
// that import; or ERROR_BAD_EXE_FORMAT for damaged tables. Bound and
// delayed imports are left alone.
DWORD BindPeImports(PeImage* image, PeImportResolver resolver, void* context,
                    std::string* failure);

// Gives the headers read-only access and every section the access its
// characteristics ask for (IMAGE_SCN_MEM_READ, _WRITE, _EXECUTE); a page
// that two sections share (an image aligned below the page size) gets both.
// ERROR_SUCCESS, ERROR_ACCESS_DENIED when the system refuses executable
// memory, or ERROR_NOT_ENOUGH_MEMORY.
DWORD ProtectPeImage(PeImage* image);

enum class PeExportLookup { kFound, kNotFound, kForwarded };

// An export by name (exact, case-sensitive; the name table is searched by
// halves, as it is sorted) or, with name null, by ordinal.
// kFound with *address; kForwarded when the export names a function of
// another library, with *address at that "LIBRARY.Function" text.
PeExportLookup FindPeExport(const PeImage& image, const char* name,
                            WORD ordinal, void** address);

// What a forwarder names: "LIBRARY.Function" or "LIBRARY.#ordinal". The
// library is named without its extension, as the format writes it.
struct PeForwarder {
  std::string library;
  std::string name;  // empty when by ordinal
  WORD ordinal = 0;
};

// Reads the forwarder text FindPeExport pointed at. False when it does not
// end inside the export directory or is not of either form.
bool ReadPeForwarder(const PeImage& image, const void* text,
                     PeForwarder* forwarder);

// Releases the mapping and empties *image. Safe on an empty image.
void UnmapPeImage(PeImage* image);

}  // namespace internal
}  // namespace qxplatform
