// What the type-library files of the automation runtime share: loading a
// library without registering it, the registry lookup, the platform's own
// stdole2, and the texts the registry holds.
#pragma once
#include <oleauto.h>

#include <memory>
#include <string>

#include "platform_internal.h"

#include "type_model.h"

namespace qxplatform {
namespace internal {

class TypeLib;

// A library object over bytes that hold a type library (a .tlb file's
// contents or a TYPELIB resource).
HRESULT LoadTypeLibFromBytes(const uint8_t* data, size_t size, TypeLib** lib);

// A library from a file: a .tlb, or a module's TYPELIB resource 1, or
// "module\N" for resource N. *fullPath (when asked for) receives the
// absolute path that registration records, "\N" included; it is empty for
// the built-in stdole2, which has no file.
HRESULT LoadTypeLibFromPath(const std::u16string& path, TypeLib** lib,
                            std::u16string* fullPath);

// The path registered for a library (LoadRegTypeLib's lookup), looked for
// first under the platform key of system kind sysKind, then the other.
HRESULT FindRegisteredTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid,
                              SYSKIND sysKind, std::u16string* path);

// A registered library, or the built-in stdole2 where that is the one asked
// for and the registry has none of kind sysKind that loads. sysKind is the
// importing library's kind, or this build's own for a caller that names no
// library.
HRESULT LoadRegisteredTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid,
                              SYSKIND sysKind, TypeLib** lib);

// The platform's stdole2 made for the pointer size of system kind sysKind,
// read once from the bytes built into this library.
std::shared_ptr<const TypeLibModel> BuiltInStdole2(SYSKIND sysKind);

// Names compare without regard to case, one UTF-16 unit at a time.
bool SameName(const std::u16string& a, const OLECHAR* b);

// Counted for the controls.
void CountRegisteredTypeLibLoad();
void CountTypeInfoNameLookup();

}  // namespace internal
}  // namespace qxplatform
