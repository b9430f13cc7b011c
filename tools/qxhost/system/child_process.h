// Running a helper program (the signature checker) as a child process:
// straight from its path with its arguments as given, never through a
// shell, its standard input empty and its output kept for the caller.
#pragma once
#include <string>
#include <vector>

namespace qxhost {

struct ChildResult {
  int exitCode = -1;   // -1 when it did not exit normally
  std::string output;  // stdout and stderr together, cut at kMaxChildOutput
};

// Output beyond this is read and dropped, so a chatty child cannot grow
// the host without bound nor block on a full pipe.
constexpr size_t kMaxChildOutput = 65536;

// Runs argv[0] (an absolute path) with argv and waits for it. False with
// *error when it could not be started or waited for.
bool RunChild(const std::vector<std::string>& argv, ChildResult* result,
              std::string* error);

}  // namespace qxhost
