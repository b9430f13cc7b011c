// "run [--untrusted] [--timeout SECONDS] [--trust FILE.pem]... [--cache DIR]
// FILE [ARGS...]": runs a script with automation objects. A .js file runs
// trusted, with WScript; an .html or .htm file runs as an untrusted page.
// --untrusted runs a .js under the page's rules for objects. --trust and
// --cache are for a page's install from an <object>'s codebase
// (page_install.h): the certificates its signatures must chain to, and the
// cache folder.
#pragma once
#include <string>
#include <vector>

#include "tools/qxhost/install/page_install.h"
#include "tools/qxhost/page/page_document.h"

namespace qxhost {

// Longest --timeout accepted: a day.
constexpr double kMaxTimeoutSeconds = 86400;

struct RunRequest {
  bool untrusted = false;
  double timeoutSeconds = 0;  // 0: none
  std::string file;
  std::vector<std::string> arguments;  // WScript.Arguments
  std::string text;                    // the file, read while parsing
  bool page = false;                   // an .html or .htm file
  PageDocument document;               // a page, parsed while parsing
  // The --trust files, read while parsing, and --cache; the page's folder.
  InstallSettings install;
  // Why the file could not be read or, for a page, parsed; a failure, not
  // a usage error.
  std::string readError;
};

// Checks the words after "run" and reads the file (and parses a page),
// before the registry is locked: a page that takes long to parse keeps no
// other host waiting. False with *error on a usage error.
bool ParseRunArguments(const std::vector<std::string>& words,
                       RunRequest* request, std::string* error);

// Exit code: 0 when the script ran to its end, WScript.Quit's code, 1 for
// an uncaught error, a failed page block or a timeout.
int RunRunCommand(const RunRequest& request);

}  // namespace qxhost
