// What a code-download INF says about the object's library. The INF's
// [Add.Code] must list exactly one file, installed from this cabinet, for
// the object's class, at the page's version or later, which registers
// itself; anything else is refused with the reason.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <string>

#include "tools/qxhost/install/codebase.h"
#include "tools/qxhost/install/file_version.h"
#include "tools/qxhost/install/inf_reader.h"

namespace qxhost {

struct CodeDownload {
  std::string fileName;  // as the INF names it
  FileVersion version;   // its FileVersion=
};

// False with *why (about "its INF") when the INF does not install the
// object's class as this host can.
bool ReadCodeDownload(const InfFile& inf, const CLSID& clsid,
                      const Codebase& codebase, CodeDownload* download,
                      std::string* why);

}  // namespace qxhost
