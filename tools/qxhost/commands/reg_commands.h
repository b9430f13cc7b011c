// "reg import FILE.reg" and "reg export [KEY]".
#pragma once
#include <string>
#include <vector>

namespace qxhost {

struct RegRequest {
  bool import = false;  // import, else export
  std::string file;     // import: the .reg file
  std::string bytes;    // import: the file as read while parsing
  // import: why the file could not be read; a failure, not a usage error.
  std::string readError;
  bool wholeStore = true;  // export: everything, else key
  std::string key;         // in UTF-8, as the store takes it
  std::string keyText;     // as typed, for messages
};

// Checks the words after "reg" and reads the file to import, before the
// registry is opened. False with *error on a usage error.
bool ParseRegArguments(const std::vector<std::string>& words,
                       RegRequest* request, std::string* error);

// Runs the request against the registry; returns the exit code. An import
// that fails changes nothing.
int RunRegCommand(const RegRequest& request);

}  // namespace qxhost
