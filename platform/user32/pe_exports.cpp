// user32's exports that a Windows image may import, bound to the platform's
// own functions.
#include <windows.h>

#include "pe_exports.h"

namespace qxplatform {
namespace internal {
namespace {

const SystemExport kEntries[] = {
    QX_SYSTEM_EXPORT(CharNextA),
    QX_SYSTEM_EXPORT(CharPrevA),
    QX_SYSTEM_EXPORT(LoadStringA),
};

}  // namespace

QX_SYSTEM_EXPORT_TABLE(kUser32Exports, "user32", kEntries);

}  // namespace internal
}  // namespace qxplatform
