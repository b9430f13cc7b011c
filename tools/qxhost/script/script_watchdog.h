// --timeout: the engine in use has no execution time check, so a script
// that never ends is stopped from outside. At the deadline a SIGALRM
// handler writes one line to stderr and ends the process with exit code 1;
// objects the script held are not released, as when any process is killed.
#pragma once
#include <string>

namespace qxhost {

// Arms the deadline seconds from now (seconds > 0). The message names the
// file.
void ArmScriptWatchdog(double seconds, const std::string& fileName);
// Cancels it once the script has ended.
void DisarmScriptWatchdog();

}  // namespace qxhost
