// The registry database a host run works on: where it is, and naming it to
// the platform at start. Every registry call then reads and writes the
// database directly; there is nothing to write back at the end.
#pragma once
#include <string>

namespace qxhost {

// The environment variable that tells programs started by the library (the
// provider's installer) which registry database this host uses.
constexpr char kRegistryEnvironmentVariable[] = "QXKORVEX_REGISTRY";

// Chooses the database (explicitPath, or the default under the user's
// state directory, which is created), publishes it in the environment and
// opens it. A missing file is made, an empty registry; anything but a
// registry database (a .reg text file, a directory, FIFO, device or socket)
// is refused, and *error says why. Other processes keep using the database
// meanwhile. With create false a missing database is not made: the run reads an
// empty registry, for commands that only read.
bool OpenRegistrySession(const std::string& explicitPath, bool create,
                         std::string* error);

// The absolute form of path (relative to the current directory).
std::string AbsolutePath(const std::string& path);

}  // namespace qxhost
