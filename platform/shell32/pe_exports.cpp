// shell32's exports that a Windows image may import, bound to the
// platform's own functions.
#include <shellapi.h>

#include "pe_exports.h"

namespace qxplatform {
namespace internal {
namespace {

const SystemExport kEntries[] = {
    QX_SYSTEM_EXPORT(ShellExecuteA),
};

}  // namespace

QX_SYSTEM_EXPORT_TABLE(kShell32Exports, "shell32", kEntries);

}  // namespace internal
}  // namespace qxplatform
