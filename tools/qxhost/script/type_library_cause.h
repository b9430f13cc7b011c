// Words for a type library that cannot serve: what a status of loading one
// means, and, for a class whose dispatch calls fail, whether the cause is
// the type library its registration names.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <string>

namespace qxhost {

// What went wrong reading a type library, for status hr of a load.
std::string TypeLibraryProblem(HRESULT hr);

// When an object of class clsid failed a name lookup with hr because the
// type library its class registers cannot be loaded:
// "type library {LIBID} 1.0 at PATH cannot be read (0x80028018): ..."; an
// empty text when the class names no type library or it loads.
std::string TypeLibraryCause(REFCLSID clsid, HRESULT hr);

}  // namespace qxhost
