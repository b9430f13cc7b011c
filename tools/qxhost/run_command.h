// "run [--untrusted] [--timeout SECONDS] FILE [ARGS...]": runs a script
// with automation objects. A .js file runs trusted, with WScript; an .html
// or .htm file runs as an untrusted page. --untrusted runs a .js under the
// page's rules for objects.
#pragma once
#include <string>
#include <vector>

namespace qxhost {

// Longest --timeout accepted: a day.
constexpr double kMaxTimeoutSeconds = 86400;

struct RunRequest {
  bool untrusted = false;
  double timeoutSeconds = 0;  // 0: none
  std::string file;
  std::vector<std::string> arguments;  // WScript.Arguments
};

// Checks the words after "run". False with *error on a usage error.
bool ParseRunArguments(const std::vector<std::string>& words,
                       RunRequest* request, std::string* error);

// Exit code: 0 when the script ran to its end, WScript.Quit's code, 1 for
// an uncaught error, a failed page block or a timeout, 2 for a file that
// cannot be read.
int RunRunCommand(const RunRequest& request);

}  // namespace qxhost
