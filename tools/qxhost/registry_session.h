// The registry file a host run works on: where it is, loading it at start and
// writing it back at the end when the run changed anything.
#pragma once
#include <string>

namespace qxhost {

// The environment variable that tells programs started by the library (the
// provider's installer) which registry file this host uses.
constexpr char kRegistryEnvironmentVariable[] = "QXKORVEX_REGISTRY";

class RegistrySession {
 public:
  // Chooses the file (explicitPath, or the default under the user's state
  // directory, which is created), publishes it in the environment and loads
  // it. A missing file is an empty registry; anything but a regular file
  // (a directory, FIFO, device or socket) is refused before the lock is
  // taken. On failure nothing is changed on disk and *error says why. The file
  // stays locked against other processes until this one exits.
  bool Open(const std::string& explicitPath, std::string* error);
  // Writes the store back atomically, but only when it has changed.
  bool SaveIfChanged(std::string* error);
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

// The absolute form of path (relative to the current directory).
std::string AbsolutePath(const std::string& path);

}  // namespace qxhost
