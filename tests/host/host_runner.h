// Runs the built qxhost as a separate process, as a user or a script does,
// in a throw-away directory with its own registry database and state home.
#pragma once
#include <sys/stat.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace hosttest {

struct HostRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// qxhost's exit codes.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The lines of text, without their line ends.
std::vector<std::string> Lines(const std::string& text);
// The last of them, or "" for no text: where qxhost puts a status.
std::string LastLine(const std::string& text);

class HostSandbox {
 public:
  HostSandbox();
  ~HostSandbox();
  HostSandbox(const HostSandbox&) = delete;
  HostSandbox& operator=(const HostSandbox&) = delete;

  // qxhost with these arguments; the environment is the test's, with
  // XDG_STATE_HOME, XDG_CACHE_HOME and HOME pointing into the sandbox and the
  // overrides applied (an empty value removes the variable). The process starts
  // in the sandbox's work directory.
  HostRun Run(const std::vector<std::string>& arguments) const;
  // Run with "--registry <registry()>" in front.
  HostRun RunWithRegistry(const std::vector<std::string>& arguments) const;

  // A run still going after this long is killed, and its exit code is then
  // 128 + SIGKILL: for runs that would hang if the host waited on its
  // input. Zero, the default, waits for the run however long it takes.
  void SetTimeout(std::chrono::milliseconds limit) { m_timeout = limit; }
  // The run's address space is limited to this many bytes (RLIMIT_AS), as
  // a user's ulimit -v does; 0, the default, leaves it as it is.
  void SetAddressSpaceLimit(size_t bytes) { m_addressSpaceLimit = bytes; }

  std::map<std::string, std::string>& environment() { return m_environment; }
  const std::filesystem::path& root() const { return m_root; }
  std::filesystem::path registry() const { return m_root / "registry.db"; }
  // What registry() holds, as qxhost reg export prints it; "" while the
  // database does not exist (and it is not made).
  std::string RegistryText() const;
  // Imports .reg text into registry(), as a user moves a .reg file in;
  // false when qxhost refused it.
  bool SeedRegistry(const std::string& regText) const;
  std::filesystem::path Write(const std::string& name,
                              const std::string& bytes) const;

 private:
  std::filesystem::path m_root;
  std::map<std::string, std::string> m_environment;
  std::chrono::milliseconds m_timeout{0};
  size_t m_addressSpaceLimit = 0;
};

// AddressSanitizer reserves terabytes of address space for its shadow, so
// an address space limit cannot be applied to a sanitized build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSpaceCanBeLimited = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSpaceCanBeLimited = false;
#else
constexpr bool kAddressSpaceCanBeLimited = true;
#endif
#else
constexpr bool kAddressSpaceCanBeLimited = true;
#endif

std::string ReadFile(const std::filesystem::path& path);
struct stat StatOf(const std::filesystem::path& path);

}  // namespace hosttest
