// The registry's database file and .reg text in and out of it, as the host
// controls offer them (qxplatform/controls.h says what each does).
#pragma once
#include <cstdint>
#include <string>

namespace qxplatform {
namespace internal {

// Makes the database file at path the store's, after refusing what is no
// registry database.
bool OpenDatabaseFile(const char* path, std::string* error);
// Merges .reg text, in one write transaction: all of it or nothing.
bool ImportText(const std::string& text, std::string* error);
// The whole store (key null or empty) or one key's tree as .reg text.
bool ExportText(const char* key, std::string* out, std::string* error);
// The same text written to fd in pieces as it is made; *bytes gets its
// size, *fitsImport whether an import takes that much back.
bool ExportTextToFile(const char* key, int fd, uint64_t* bytes,
                      bool* fitsImport, std::string* error);

}  // namespace internal
}  // namespace qxplatform
