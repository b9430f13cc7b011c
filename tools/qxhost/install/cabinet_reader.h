// Unpacking a cabinet (libgcab) into a folder, for code download: the
// cabinet comes from a page, so every entry name is checked before any
// byte is written, and the whole cabinet is refused if one is unsafe.
#pragma once
#include <string>
#include <vector>

namespace qxhost {

// Bounds on what one cabinet may unpack to.
constexpr size_t kMaxCabinetEntries = 64;
constexpr unsigned long long kMaxCabinetContent = 256ull << 20;

// Loads the cabinet from bytes and writes its files into folder (which
// exists and is empty), each under its own name. A name must be a plain
// file name: not absolute, no folders, no "..", no control characters, and
// no two alike regardless of case. False with *why otherwise; what was
// written by then is the caller's to remove. *names lists the files.
bool UnpackCabinet(const std::string& bytes, const std::string& folder,
                   std::vector<std::string>* names, std::string* why);

}  // namespace qxhost
