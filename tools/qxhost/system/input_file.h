// Reading a file the host takes as input (a .reg file to import, a registry
// script, a script or page to run): only a regular file of bounded size, and
// never in a way that can block, so that a bad name is reported at once.
#pragma once
#include <cstddef>
#include <string>

namespace qxhost {

// Larger than any input this host is meant for; a larger file is refused
// rather than read into memory.
constexpr size_t kMaxInputFileSize = size_t{64} << 20;
// A .reg file to import may be as large as one import may be.
constexpr size_t kMaxImportFileSize = size_t{1} << 30;

// The whole file. False with *error, a sentence naming the file, when it is
// not a regular file, is larger than limit (also when it grows past it
// while read) or cannot be opened or read; *bytes is then untouched.
bool ReadInputFile(const std::string& path, std::string* bytes,
                   std::string* error, size_t limit = kMaxInputFileSize);

}  // namespace qxhost
