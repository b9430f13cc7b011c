// ole32's exports that a Windows image may import, bound to the platform's
// own functions: COM initialisation and activation, class ids, and the task
// allocator.
#include <objbase.h>

#include "pe_exports.h"

namespace qxplatform {
namespace internal {
namespace {

const SystemExport kEntries[] = {
    // initialisation
    QX_SYSTEM_EXPORT(CoInitialize),
    QX_SYSTEM_EXPORT(CoInitializeEx),
    QX_SYSTEM_EXPORT(CoUninitialize),
    // class ids and ProgIDs
    QX_SYSTEM_EXPORT(CLSIDFromString),
    QX_SYSTEM_EXPORT(StringFromGUID2),
    QX_SYSTEM_EXPORT(CLSIDFromProgID),
    QX_SYSTEM_EXPORT(ProgIDFromCLSID),
    // activation
    QX_SYSTEM_EXPORT(CoGetClassObject),
    QX_SYSTEM_EXPORT(CoCreateInstance),
    QX_SYSTEM_EXPORT(CoFreeUnusedLibraries),
    // task allocator
    QX_SYSTEM_EXPORT(CoTaskMemAlloc),
    QX_SYSTEM_EXPORT(CoTaskMemRealloc),
    QX_SYSTEM_EXPORT(CoTaskMemFree),
};

}  // namespace

QX_SYSTEM_EXPORT_TABLE(kOle32Exports, "ole32", kEntries);

}  // namespace internal
}  // namespace qxplatform
