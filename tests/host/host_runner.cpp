// Process plumbing for the host tests: fork, exec qxhost with its output in
// files, wait.
#include "host/host_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace hosttest {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string LastLine(const std::string& text) {
  std::vector<std::string> lines = Lines(text);
  return lines.empty() ? std::string() : lines.back();
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct stat StatOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info;
}

HostSandbox::HostSandbox() {
  char pattern[] = "/tmp/qxhost-test.XXXXXX";
  if (mkdtemp(pattern) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  m_root = pattern;
  fs::create_directory(m_root / "work");
  m_environment["XDG_STATE_HOME"] = (m_root / "state").string();
  m_environment["HOME"] = (m_root / "home").string();
  m_environment["XDG_CACHE_HOME"] = (m_root / "cache").string();
}

HostSandbox::~HostSandbox() {
  std::error_code ignored;
  fs::remove_all(m_root, ignored);
}

fs::path HostSandbox::Write(const std::string& name,
                            const std::string& bytes) const {
  fs::path path = m_root / name;
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return path;
}

std::string HostSandbox::RegistryText() const {
  if (!fs::exists(registry())) return std::string();
  HostRun run = RunWithRegistry({"reg", "export"});
  return run.exitCode == 0 ? run.out : "<export failed: " + run.err + ">";
}

bool HostSandbox::SeedRegistry(const std::string& regText) const {
  fs::path seed = Write("seed-registry.reg", regText);
  HostRun run = RunWithRegistry({"reg", "import", seed.string()});
  fs::remove(seed);
  return run.exitCode == 0;
}

HostRun HostSandbox::RunWithRegistry(
    const std::vector<std::string>& arguments) const {
  std::vector<std::string> all = {"--registry", registry().string()};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return Run(all);
}

HostRun HostSandbox::Run(const std::vector<std::string>& arguments) const {
  // Everything the child needs is built before fork.
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    size_t equals = text.find('=');
    if (equals != std::string::npos)
      variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : m_environment) {
    if (value.empty()) {
      variables.erase(name);
    } else {
      variables[name] = value;
    }
  }
  std::vector<std::string> envText;
  for (const auto& [name, value] : variables)
    envText.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& text : envText) envp.push_back(text.data());
  envp.push_back(nullptr);

  std::vector<std::string> argText = {QX_QXHOST_PATH};
  argText.insert(argText.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : argText) argv.push_back(text.data());
  argv.push_back(nullptr);

  // Each run its own output files, so that runs of one sandbox started
  // from several threads at once never read each other's output.
  static std::atomic<unsigned> runs{0};
  const std::string number = std::to_string(runs.fetch_add(1));
  std::string outPath = (m_root / ("stdout-" + number + ".txt")).string();
  std::string errPath = (m_root / ("stderr-" + number + ".txt")).string();
  std::string workPath = (m_root / "work").string();

  HostRun run;
  const size_t addressSpaceLimit = m_addressSpaceLimit;
  pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return run;
  }
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(workPath.c_str()) != 0) {
      _exit(126);
    }
    if (addressSpaceLimit != 0) {
      struct rlimit limit = {addressSpaceLimit, addressSpaceLimit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  bool reaped = false;
  if (m_timeout.count() > 0) {
    const auto deadline = std::chrono::steady_clock::now() + m_timeout;
    while (!(reaped = waitpid(pid, &status, WNOHANG) == pid)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ADD_FAILURE() << "qxhost still running after " << m_timeout.count()
                      << " ms; killed";
        kill(pid, SIGKILL);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (!reaped) {
    while (waitpid(pid, &status, 0) < 0) {
    }
  }
  run.exitCode =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = ReadFile(outPath);
  run.err = ReadFile(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return run;
}

}  // namespace hosttest
