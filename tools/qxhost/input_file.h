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

// The whole file. False with *error, a sentence naming the file, when it is
// not a regular file, is larger than kMaxInputFileSize (also when it grows
// past it while read) or cannot be opened or read; *bytes is then untouched.
bool ReadInputFile(const std::string& path, std::string* bytes,
                   std::string* error);

}  // namespace qxhost
