// Four-index file versions ("1,0,0,6"): as a page asks for one in its
// codebase (#version=a,b,c,d), as a code-download INF states one
// (FileVersion=), and as a library carries one in its version resource.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <string>

namespace qxhost {

struct FileVersion {
  uint16_t numbers[4] = {0, 0, 0, 0};
  uint64_t Ordinal() const {
    return (uint64_t{numbers[0]} << 48) | (uint64_t{numbers[1]} << 32) |
           (uint64_t{numbers[2]} << 16) | numbers[3];
  }
  std::string Text() const;  // "1,0,0,6"
};

// Four numbers from 0 to 65535 separated by commas (spaces around them are
// allowed); false for anything else.
bool ParseFileVersion(const std::string& text, FileVersion* version);

// The version in the version resource of the file, read as data (no code in
// it runs). False when it cannot be loaded or has no version resource.
bool ReadFileVersion(const std::string& ansiPath, FileVersion* version);

// The file a class is registered to (its InprocServer32), in ANSI. False
// when the class has no such registration.
bool RegisteredServerPath(const CLSID& clsid, std::string* ansiPath);

}  // namespace qxhost
