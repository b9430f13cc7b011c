// The host's error reporting: one line per failure, on stderr.
#include "tools/qxhost/system/host_output.h"

#include <cstdio>

namespace qxhost {

int UsageError(const std::string& message) {
  std::fprintf(stderr, "qxhost: %s (try 'qxhost --help')\n", message.c_str());
  return kExitUsage;
}

int HresultError(HRESULT hr, const std::string& what) {
  std::fprintf(stderr, "error: 0x%08X %s\n", static_cast<unsigned>(hr),
               what.c_str());
  return kExitFailure;
}

int Failure(const std::string& message) {
  std::fprintf(stderr, "qxhost: %s\n", message.c_str());
  return kExitFailure;
}

}  // namespace qxhost
