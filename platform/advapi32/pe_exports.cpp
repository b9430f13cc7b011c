// advapi32's exports that a Windows image may import, bound to the
// platform's own functions: the registry and cryptographic provider
// contexts.
#include <windows.h>
#include <wincrypt.h>

#include "pe_exports.h"

namespace qxplatform {
namespace internal {
namespace {

const SystemExport kEntries[] = {
    // registry
    QX_SYSTEM_EXPORT(RegOpenKeyExA),
    QX_SYSTEM_EXPORT(RegCreateKeyExA),
    QX_SYSTEM_EXPORT(RegCloseKey),
    QX_SYSTEM_EXPORT(RegDeleteKeyA),
    QX_SYSTEM_EXPORT(RegDeleteValueA),
    QX_SYSTEM_EXPORT(RegEnumKeyExA),
    QX_SYSTEM_EXPORT(RegEnumValueA),
    QX_SYSTEM_EXPORT(RegQueryInfoKeyA),
    QX_SYSTEM_EXPORT(RegQueryValueExA),
    QX_SYSTEM_EXPORT(RegSetValueExA),
    QX_SYSTEM_EXPORT(RegOverridePredefKey),
    // cryptographic providers
    QX_SYSTEM_EXPORT(CryptAcquireContextA),
    QX_SYSTEM_EXPORT(CryptReleaseContext),
};

}  // namespace

QX_SYSTEM_EXPORT_TABLE(kAdvapi32Exports, "advapi32", kEntries);

}  // namespace internal
}  // namespace qxplatform
