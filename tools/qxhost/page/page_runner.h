// Running a parsed page as a browser runs it for untrusted content: each
// <object> (a nested one only as the fallback of an outer one that could
// not be created) is installed from its codebase when its class is missing
// or older than the page asks, created, checked for safety and bound to the
// global of its id, unless a global of that name exists; then the JavaScript
// blocks run in order. A failure is reported on stderr and the page goes on.
#pragma once
#include <string>

#include "tools/qxhost/install/page_install.h"
#include "tools/qxhost/page/page_document.h"
#include "tools/qxhost/script/script_session.h"

namespace qxhost {

// Returns the exit code: 0 when every block ran to its end, 1 otherwise.
// An object with a codebase is installed first when it needs to be
// (page_install.h), with these settings.
int RunPage(ScriptSession* session, const std::string& fileName,
            const PageDocument& page, const InstallSettings& install);

}  // namespace qxhost
