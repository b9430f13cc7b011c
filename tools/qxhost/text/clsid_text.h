// Class ids as they are written on the command line and in the registry:
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once
#include <windows.h>
#include <objbase.h>

#include <string>

namespace qxhost {

// Strict: braces, the 8-4-4-4-12 hex groups, nothing else. Either case.
bool ParseClsid(const std::string& text, CLSID* clsid);

// The registry's spelling: braces, upper-case hex.
std::string GuidText(REFGUID guid);

}  // namespace qxhost
