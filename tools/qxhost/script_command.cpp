// The script command while the host is built without the registrar: a clear
// usage error instead of an unknown-command one.
#include "tools/qxhost/script_command.h"

#include "tools/qxhost/host_output.h"

namespace qxhost {

int RunScriptCommand(const std::vector<std::string>& words) {
  (void)words;
  return UsageError("the script command is not available in this build");
}

}  // namespace qxhost
