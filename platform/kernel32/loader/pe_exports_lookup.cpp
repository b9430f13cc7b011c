// Finding a library an import names among those the platform stands in for,
// and an export in its table.
#include <string.h>

#include "ascii_text.h"
#include "pe_exports.h"

namespace qxplatform {
namespace internal {
namespace {

const SystemExportTable* const kTables[] = {
    &kKernel32Exports, &kAdvapi32Exports, &kOle32Exports,  &kOleaut32Exports,
    &kShell32Exports,  &kUser32Exports,   &kMsvcrtExports,
};

}  // namespace

const SystemExportTable* FindSystemLibrary(std::string_view library) {
  // The loader matches module names without regard to case, and an import
  // may leave out the default extension.
  constexpr std::string_view kExtension = ".dll";
  if (library.size() > kExtension.size() &&
      EqualIgnoringAsciiCase(library.substr(library.size() - kExtension.size()),
                             kExtension)) {
    library.remove_suffix(kExtension.size());
  }
  for (const SystemExportTable* table : kTables) {
    if (EqualIgnoringAsciiCase(library, table->library)) return table;
  }
  return nullptr;
}

const SystemExport* FindSystemExport(const SystemExportTable& table,
                                     const char* name, WORD ordinal) {
  for (size_t i = 0; i < table.count; ++i) {
    const SystemExport& entry = table.entries[i];
    if (name != nullptr ? strcmp(entry.name, name) == 0
                        : ordinal != 0 && entry.ordinal == ordinal) {
      return &entry;
    }
  }
  return nullptr;
}

SystemExportTables AllSystemLibraries() {
  return {kTables, sizeof(kTables) / sizeof(kTables[0])};
}

}  // namespace internal
}  // namespace qxplatform
