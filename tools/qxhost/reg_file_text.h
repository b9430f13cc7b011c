// Reading a .reg file as the registry editor writes it: UTF-16LE with a byte
// order mark (what "Version 5.00" files normally are) or UTF-8.
#pragma once
#include <string>

namespace qxhost {

// Reads the whole file; false with *error when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* bytes,
                   std::string* error);

// The file's text in UTF-8, without a byte order mark. False with *error when
// UTF-16 text is cut in half or holds an unpaired surrogate.
bool DecodeRegFileText(const std::string& bytes, std::string* utf8,
                       std::string* error);

}  // namespace qxhost
