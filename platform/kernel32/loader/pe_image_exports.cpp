// The export tables of a mapped image: the address table indexed by ordinal
// minus Base, and the name table (sorted, so searched by halves) with its
// parallel table of address-table indexes. An address inside the export
// directory is no code but the "LIBRARY.Function" (or "LIBRARY.#ordinal")
// text of a forwarder, which must end inside the directory.
// MapPeImage checks that the tables lie inside the image; the names are
// checked as a lookup reads them.
#include <string.h>

#include "pe_image_parts.h"

namespace qxplatform {
namespace internal {
namespace {

struct ExportTables {
  uint32_t base = 0;  // the first ordinal
  uint32_t functionCount = 0;
  uint32_t nameCount = 0;
  uint32_t functions = 0;  // RVAs of the three tables
  uint32_t names = 0;
  uint32_t nameIndexes = 0;
};

bool ReadTables(const PeImage& image, ExportTables* tables) {
  if (image.base == nullptr || image.exports.size == 0) return false;
  const BYTE* directory = image.base + image.exports.rva;
  tables->base = ReadDword(directory + 16);
  tables->functionCount = ReadDword(directory + 20);
  tables->nameCount = ReadDword(directory + 24);
  tables->functions = ReadDword(directory + 28);
  tables->names = ReadDword(directory + 32);
  tables->nameIndexes = ReadDword(directory + 36);
  return true;
}

bool TablesInside(const PeImage& image, const ExportTables& tables) {
  return ImageHolds(image, tables.functions,
                    4 * uint64_t{tables.functionCount}) &&
         ImageHolds(image, tables.names, 4 * uint64_t{tables.nameCount}) &&
         ImageHolds(image, tables.nameIndexes, 2 * uint64_t{tables.nameCount});
}

// Compares the name at rva with wanted as strcmp does (unsigned bytes); a
// name that runs off the end of the image compares as damaged.
int CompareName(const PeImage& image, uint32_t rva, const char* wanted,
                bool* damaged) {
  const BYTE* text = reinterpret_cast<const BYTE*>(wanted);
  for (uint64_t at = rva;; ++at, ++text) {
    if (at >= image.imageSize) {
      *damaged = true;
      return 1;
    }
    const BYTE unit = image.base[at];
    if (unit != *text) return unit < *text ? -1 : 1;
    if (unit == 0) return 0;
  }
}

bool NameMatches(const PeImage& image, const ExportTables& tables,
                 uint32_t index, const char* name, int* order) {
  bool damaged = false;
  const uint32_t rva = ReadDword(image.base + tables.names + 4 * index);
  *order = CompareName(image, rva, name, &damaged);
  return *order == 0 && !damaged;
}

// The address-table index of a name, searched by halves as the format has
// the name table sorted for. In a table that is not sorted a name may be
// missed, as on Windows; the search still ends after log2(count) steps.
bool FindName(const PeImage& image, const ExportTables& tables,
              const char* name, uint32_t* index) {
  uint32_t low = 0, high = tables.nameCount;
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    int order = 0;
    if (NameMatches(image, tables, middle, name, &order)) {
      *index = ReadWord(image.base + tables.nameIndexes + 2 * middle);
      return true;
    }
    if (order < 0)
      low = middle + 1;
    else
      high = middle;
  }
  return false;
}

}  // namespace

DWORD CheckPeExports(const PeImage& image, std::string* failure) {
  ExportTables tables;
  if (!ReadTables(image, &tables)) return ERROR_SUCCESS;
  if (!TablesInside(image, tables))
    return Damaged(failure, "the export tables lie outside the image");
  return ERROR_SUCCESS;
}

PeExportLookup FindPeExport(const PeImage& image, const char* name,
                            WORD ordinal, void** address) {
  ExportTables tables;
  if (!ReadTables(image, &tables) || !TablesInside(image, tables))
    return PeExportLookup::kNotFound;
  uint32_t index = 0;
  if (name != nullptr) {
    if (!FindName(image, tables, name, &index))
      return PeExportLookup::kNotFound;
  } else {
    if (ordinal < tables.base) return PeExportLookup::kNotFound;
    index = ordinal - tables.base;
  }
  if (index >= tables.functionCount) return PeExportLookup::kNotFound;
  const uint32_t rva = ReadDword(image.base + tables.functions + 4 * index);
  if (rva == 0 || rva >= image.imageSize) return PeExportLookup::kNotFound;
  if (address != nullptr) *address = image.base + rva;
  return rva - image.exports.rva < image.exports.size
             ? PeExportLookup::kForwarded
             : PeExportLookup::kFound;
}

bool ReadPeForwarder(const PeImage& image, const void* text,
                     PeForwarder* forwarder) {
  const BYTE* start = static_cast<const BYTE*>(text);
  const BYTE* directory = image.base + image.exports.rva;
  if (image.base == nullptr || start < directory ||
      start >= directory + image.exports.size)
    return false;
  const size_t room = static_cast<size_t>(directory + image.exports.size - start);
  const void* end = memchr(start, 0, room);
  if (end == nullptr) return false;
  const std::string whole(reinterpret_cast<const char*>(start),
                          static_cast<const BYTE*>(end) - start);
  // A function's name holds no dot; a library's may.
  const size_t dot = whole.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == whole.size())
    return false;
  PeForwarder read;
  read.library = whole.substr(0, dot);
  const std::string target = whole.substr(dot + 1);
  if (target[0] == '#') {
    unsigned long value = 0;
    if (target.size() < 2 || target.size() > 6) return false;
    for (size_t i = 1; i < target.size(); ++i) {
      if (target[i] < '0' || target[i] > '9') return false;
      value = value * 10 + static_cast<unsigned long>(target[i] - '0');
    }
    if (value == 0 || value > 0xFFFF) return false;
    read.ordinal = static_cast<WORD>(value);
  } else {
    read.name = target;
  }
  *forwarder = read;
  return true;
}

}  // namespace internal
}  // namespace qxplatform
