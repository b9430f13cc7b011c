// oleaut32's exports that a Windows image may import, bound to the
// platform's own functions. Images built against the automation libraries
// of some compilers import oleaut32 by ordinal, so its ordinals are given
// wherever they are fixed.
#include <oleauto.h>

#include "pe_exports.h"

namespace qxplatform {
namespace internal {
namespace {

const SystemExport kEntries[] = {
    // strings
    QX_SYSTEM_EXPORT(SysAllocString, 2),
    QX_SYSTEM_EXPORT(SysAllocStringLen, 4),
    QX_SYSTEM_EXPORT(SysFreeString, 6),
    QX_SYSTEM_EXPORT(SysStringLen, 7),
    QX_SYSTEM_EXPORT(SysStringByteLen, 149),
    QX_SYSTEM_EXPORT(SysAllocStringByteLen, 150),
    // variants
    QX_SYSTEM_EXPORT(VariantInit, 8),
    QX_SYSTEM_EXPORT(VariantClear, 9),
    QX_SYSTEM_EXPORT(VariantCopy, 10),
    QX_SYSTEM_EXPORT(VariantCopyInd, 11),
    QX_SYSTEM_EXPORT(VariantChangeType, 12),
    QX_SYSTEM_EXPORT(VariantChangeTypeEx, 147),
    QX_SYSTEM_EXPORT(VarUI4FromStr, 277),
    // calls through a vtable
    QX_SYSTEM_EXPORT(DispCallFunc, 146),
    // type libraries
    QX_SYSTEM_EXPORT(LoadTypeLib, 161),
    QX_SYSTEM_EXPORT(LoadRegTypeLib, 162),
    QX_SYSTEM_EXPORT(RegisterTypeLib, 163),
    QX_SYSTEM_EXPORT(QueryPathOfRegTypeLib, 164),
    QX_SYSTEM_EXPORT(LoadTypeLibEx, 183),
    QX_SYSTEM_EXPORT(UnRegisterTypeLib, 186),
    QX_SYSTEM_EXPORT(ClearCustData),
};

}  // namespace

QX_SYSTEM_EXPORT_TABLE(kOleaut32Exports, "oleaut32", kEntries);

}  // namespace internal
}  // namespace qxplatform
