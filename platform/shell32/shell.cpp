// ShellExecuteA: starts a program the way the desktop shell does. The file is
// found by the loader's search rules, its name matched without regard to case
// as the real platform's file systems match names, the program is started
// with its own command line and working directory and is not waited for, and
// every failure comes back as one of the shell's small result codes (<= 32)
// rather than as a last error.
//
// Programs are started through a short-lived intermediate process so that the
// started program is never our child (no zombie, no SIGCHLD for the host).
// A close-on-exec pipe carries a failure of the intermediate's fork, of the
// working directory or of exec back to the caller; the pipe closing without
// data means the new image is running.
//
// Result codes chosen where Linux has failures the shell does not name:
//   - a file the kernel cannot run (ENOEXEC: neither ELF nor a #! script, or
//     a broken interpreter) is ERROR_BAD_FORMAT (11), what the shell returns
//     for an invalid executable image;
//   - a directory, a device or a file without execute permission is
//     SE_ERR_ACCESSDENIED, what process creation reports for them;
//   - no pipe, no process (EAGAIN, ENOMEM, EMFILE) is 0, "out of memory or
//     resources"; a failed exec for lack of memory is SE_ERR_OOM;
//   - a missing working directory is SE_ERR_PNF.
// nShowCmd and the owner window have no meaning without a window system: they
// are only kept, with the rest of the request, for LastLaunch.
#include <shellapi.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "ascii_text.h"
#include "platform_internal.h"
#include "shell_state.h"

extern char** environ;

namespace qxplatform {
namespace {

// Any value above 32 means success; callers only compare against 32.
constexpr INT_PTR kLaunchSucceeded = 42;
constexpr INT_PTR kOutOfResources = 0;
constexpr INT_PTR kBadFormat = ERROR_BAD_FORMAT;
constexpr const char kDefaultVerb[] = "open";
constexpr int kFailedExitCode = 127;
// Upper bound for marking descriptors close-on-exec one by one when the
// kernel has no close_range.
constexpr long kMaxDescriptorSweep = 65536;
#ifndef CLOSE_RANGE_CLOEXEC
constexpr unsigned kCloseRangeCloexec = 1U << 2;
#else
constexpr unsigned kCloseRangeCloexec = CLOSE_RANGE_CLOEXEC;
#endif

// What the launch pipe carries when starting the program failed.
enum LaunchStage : int32_t {
  kStageSpawn = 1,      // the intermediate could not fork
  kStageDirectory = 2,  // chdir to the working directory
  kStageExec = 3,       // execve of the program
};

struct LaunchFailure {
  int32_t stage;
  int32_t error;
};

// Everything the processes between fork and exec use, prepared beforehand:
// after fork only async-signal-safe calls are allowed, so nothing there may
// allocate or take a lock.
struct LaunchPlan {
  std::string program;
  std::vector<std::string> arguments;
  std::string workingDirectory;  // empty: inherit the caller's
};

std::string FromAnsi(LPCSTR text) {
  if (text == nullptr) return std::string();
  return internal::WideToUtf8(internal::AnsiToWide(text));
}

std::string WithNativeSeparators(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

bool HasDirectoryPart(const std::string& name) {
  return name.find('/') != std::string::npos;
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty() || name.empty() || name.front() == '/') return name;
  if (directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string HostProgramDirectory() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return std::string();
  return ParentOf(std::string(buffer, static_cast<size_t>(length)));
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof(buffer)) == nullptr) return std::string();
  return buffer;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string BaseOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// False for a name that is not UTF-8: such a file answers to its exact name
// only.
bool FoldName(const std::string& name, std::u16string* folded) {
  bool valid = false;
  *folded = internal::Utf8ToWide(name, &valid);
  if (!valid) return false;
  for (char16_t& unit : *folded) unit = internal::SimpleUpper(unit);
  return true;
}

// The directory's entry called name, its case ignored as the real platform's
// file systems ignore it. An entry of exactly that name wins; among entries
// that differ only in case the first in byte order does, whatever order the
// directory lists them in. Empty when there is none.
std::string FindEntry(const std::string& directory, const std::string& name) {
  std::string exact = JoinPath(directory, name);
  struct stat info;
  if (stat(exact.c_str(), &info) == 0) return exact;
  std::u16string wanted;
  if (name.empty() || !FoldName(name, &wanted)) return std::string();
  DIR* entries = opendir(directory.c_str());
  if (entries == nullptr) return std::string();
  std::string found;
  std::u16string folded;
  while (const dirent* entry = readdir(entries)) {
    if (!FoldName(entry->d_name, &folded) || folded != wanted) continue;
    if (found.empty() || found > entry->d_name) found = entry->d_name;
  }
  closedir(entries);
  return found.empty() ? std::string() : JoinPath(directory, found);
}

// The file exists: can it be started as a program?
INT_PTR CheckRunnable(const std::string& path, const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return SE_ERR_ACCESSDENIED;
  if (access(path.c_str(), X_OK) != 0) return SE_ERR_ACCESSDENIED;
  return kLaunchSucceeded;
}

// A name with a directory part: taken relative to the working directory the
// program will get; only its last part is matched without regard to case.
INT_PTR ResolveQualified(const std::string& name, const std::string& base,
                         std::string* program) {
  std::string path = JoinPath(base, name);
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    int error = errno;
    std::string matched =
        error == ENOENT ? FindEntry(ParentOf(path), BaseOf(path)) : "";
    if (matched.empty() || stat(matched.c_str(), &info) != 0) {
      if (error == EACCES) return SE_ERR_ACCESSDENIED;
      if (error == ENOTDIR || !IsDirectory(ParentOf(path))) return SE_ERR_PNF;
      return SE_ERR_FNF;
    }
    path = matched;
  }
  INT_PTR check = CheckRunnable(path, info);
  if (check <= 32) return check;
  *program = path;
  return kLaunchSucceeded;
}

// A bare name: the working directory given by the caller, the host program's
// directory, the current directory, then each PATH entry. The first file of
// that name, in any case, decides; a later one does not stand in for one
// that cannot run.
INT_PTR ResolveBare(const std::string& name, const std::string& workingDir,
                    std::string* program) {
  std::vector<std::string> directories;
  if (!workingDir.empty()) directories.push_back(workingDir);
  directories.push_back(HostProgramDirectory());
  directories.push_back(CurrentDirectory());
  if (const char* path = getenv("PATH")) {
    std::string entries = path;
    size_t start = 0;
    while (start <= entries.size()) {
      size_t end = entries.find(':', start);
      if (end == std::string::npos) end = entries.size();
      // An empty entry would mean the current directory, searched already.
      if (end > start)
        directories.push_back(entries.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const std::string& directory : directories) {
    if (directory.empty()) continue;
    std::string candidate = FindEntry(directory, name);
    struct stat info;
    if (candidate.empty() || stat(candidate.c_str(), &info) != 0) continue;
    INT_PTR check = CheckRunnable(candidate, info);
    if (check <= 32) return check;
    *program = candidate;
    return kLaunchSucceeded;
  }
  return SE_ERR_FNF;
}

// Splits a parameter string as the C runtime splits a command line: blanks
// separate, double quotes group (a pair of them inside quotes is a literal
// quote), 2n backslashes before a quote give n backslashes and the quote
// counts, 2n+1 give n backslashes and a literal quote; other backslashes are
// literal.
std::vector<std::string> SplitParameters(const std::string& text) {
  std::vector<std::string> arguments;
  size_t i = 0;
  const size_t size = text.size();
  while (true) {
    while (i < size && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= size) break;
    std::string argument;
    bool quoted = false;
    while (i < size) {
      char c = text[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        size_t count = 0;
        while (i < size && text[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < size && text[i] == '"') {
          argument.append(count / 2, '\\');
          if (count % 2 == 1) {
            argument.push_back('"');
            ++i;
          }
        } else {
          argument.append(count, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < size && text[i + 1] == '"') {
          argument.push_back('"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      argument.push_back(c);
      ++i;
    }
    arguments.push_back(argument);
  }
  return arguments;
}

INT_PTR MapFailure(const LaunchFailure& failure) {
  int error = failure.error;
  if (failure.stage == kStageSpawn) return kOutOfResources;
  if (failure.stage == kStageDirectory) {
    if (error == EACCES) return SE_ERR_ACCESSDENIED;
    return SE_ERR_PNF;
  }
  switch (error) {
    case ENOENT:
    case ELOOP:
    case ENAMETOOLONG:
      return SE_ERR_FNF;
    case ENOTDIR:
      return SE_ERR_PNF;
    case ENOEXEC:
    case ELIBBAD:
    case EINVAL:
      return kBadFormat;
    case ENOMEM:
    case E2BIG:
      return SE_ERR_OOM;
    case ETXTBSY:
      return SE_ERR_SHARE;
    case EAGAIN:
    case EMFILE:
    case ENFILE:
      return kOutOfResources;
    default:
      return SE_ERR_ACCESSDENIED;
  }
}

// ---- between fork and exec: async-signal-safe calls only -----------------

void ReportFailure(int fd, int32_t stage, int error) {
  LaunchFailure failure;
  failure.stage = stage;
  failure.error = error;
  const char* bytes = reinterpret_cast<const char*>(&failure);
  size_t written = 0;
  while (written < sizeof(failure)) {
    ssize_t n = write(fd, bytes + written, sizeof(failure) - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    written += static_cast<size_t>(n);
  }
}

// A started program inherits no descriptor of ours except the standard three.
void MarkDescriptorsCloseOnExec(long sweepLimit) {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3U, ~0U, kCloseRangeCloexec) == 0) return;
#endif
  for (long fd = 3; fd < sweepLimit; ++fd) {
    int flags = fcntl(static_cast<int>(fd), F_GETFD);
    if (flags >= 0) fcntl(static_cast<int>(fd), F_SETFD, flags | FD_CLOEXEC);
  }
}

// The grandchild: a fresh signal state, then become the program.
[[noreturn]] void BecomeProgram(const char* program, char* const* argv,
                                char* const* envp, const char* directory,
                                int reportFd, long sweepLimit,
                                const struct sigaction& defaultAction) {
  for (int signal = 1; signal < NSIG; ++signal) {
    if (signal == SIGKILL || signal == SIGSTOP) continue;
    sigaction(signal, &defaultAction, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  MarkDescriptorsCloseOnExec(sweepLimit);
  if (directory != nullptr && chdir(directory) != 0) {
    ReportFailure(reportFd, kStageDirectory, errno);
    _exit(kFailedExitCode);
  }
  execve(program, argv, envp);
  ReportFailure(reportFd, kStageExec, errno);
  _exit(kFailedExitCode);
}

// ---- in the caller -------------------------------------------------------

long DescriptorSweepLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return kMaxDescriptorSweep;
  return limit.rlim_cur < static_cast<rlim_t>(kMaxDescriptorSweep)
             ? static_cast<long>(limit.rlim_cur)
             : kMaxDescriptorSweep;
}

// Reads the failure record, or nothing when exec succeeded.
ssize_t ReadFailure(int fd, LaunchFailure* failure) {
  char* bytes = reinterpret_cast<char*>(failure);
  size_t got = 0;
  while (got < sizeof(*failure)) {
    ssize_t n = read(fd, bytes + got, sizeof(*failure) - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

// True when the intermediate ended normally or its end was collected by
// someone else (a host that ignores SIGCHLD).
bool WaitForIntermediate(pid_t pid) {
  int status = 0;
  while (true) {
    pid_t done = waitpid(pid, &status, 0);
    if (done == pid) return !WIFSIGNALED(status);
    if (done < 0 && errno == EINTR) continue;
    return true;
  }
}

INT_PTR Launch(const LaunchPlan& plan) {
  std::vector<char*> argv;
  argv.reserve(plan.arguments.size() + 2);
  argv.push_back(const_cast<char*>(plan.program.c_str()));
  for (const std::string& argument : plan.arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const char* program = plan.program.c_str();
  const char* directory =
      plan.workingDirectory.empty() ? nullptr : plan.workingDirectory.c_str();
  char* const* envp = environ;
  const long sweepLimit = DescriptorSweepLimit();
  struct sigaction defaultAction;
  memset(&defaultAction, 0, sizeof(defaultAction));
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return kOutOfResources;
  pid_t intermediate = fork();
  if (intermediate < 0) {
    close(fds[0]);
    close(fds[1]);
    return kOutOfResources;
  }
  if (intermediate == 0) {
    close(fds[0]);
    pid_t grandchild = fork();
    if (grandchild < 0) {
      ReportFailure(fds[1], kStageSpawn, errno);
      _exit(kFailedExitCode);
    }
    if (grandchild == 0) {
      BecomeProgram(program, argv.data(), envp, directory, fds[1], sweepLimit,
                    defaultAction);
    }
    _exit(0);
  }
  close(fds[1]);
  bool intermediateEnded = WaitForIntermediate(intermediate);
  LaunchFailure failure;
  ssize_t got = ReadFailure(fds[0], &failure);
  close(fds[0]);
  if (got == static_cast<ssize_t>(sizeof(failure))) return MapFailure(failure);
  // A torn record or an intermediate killed before it could report: nothing
  // is known to have started.
  if (got != 0 || !intermediateEnded) return kOutOfResources;
  internal::g_shellLaunchCount.fetch_add(1);
  return kLaunchSucceeded;
}

std::optional<std::string> Kept(LPCSTR text) {
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

LaunchRecord Request(HWND window, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                     LPCSTR directory, INT showCommand) {
  LaunchRecord record;
  record.made = true;
  record.window = window;
  record.verb = Kept(verb);
  record.file = Kept(file);
  record.parameters = Kept(parameters);
  record.directory = Kept(directory);
  record.showCommand = showCommand;
  return record;
}

INT_PTR Execute(LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                LPCSTR lpDirectory) {
  INT_PTR forced = internal::g_forcedShellResult.load();
  if (forced >= 0) return forced;

  // Only the default verb has a handler for programs.
  if (lpOperation != nullptr && lpOperation[0] != '\0' &&
      !qxplatform::internal::EqualIgnoringAsciiCase(lpOperation,
                                                    kDefaultVerb)) {
    return SE_ERR_NOASSOC;
  }
  if (lpFile == nullptr || lpFile[0] == '\0') return SE_ERR_FNF;

  LaunchPlan plan;
  plan.workingDirectory = WithNativeSeparators(FromAnsi(lpDirectory));
  if (!plan.workingDirectory.empty() && !IsDirectory(plan.workingDirectory))
    return SE_ERR_PNF;

  std::string name = WithNativeSeparators(FromAnsi(lpFile));
  INT_PTR resolved =
      HasDirectoryPart(name)
          ? ResolveQualified(name, plan.workingDirectory, &plan.program)
          : ResolveBare(name, plan.workingDirectory, &plan.program);
  if (resolved <= 32) return resolved;
  // The program keeps its path valid whatever directory it starts in.
  if (plan.program.front() != '/') {
    plan.program = JoinPath(CurrentDirectory(), plan.program);
  }
  plan.arguments = SplitParameters(FromAnsi(lpParameters));
  return Launch(plan);
}

}  // namespace
}  // namespace qxplatform

HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile,
                               LPCSTR lpParameters, LPCSTR lpDirectory,
                               INT nShowCmd) {
  qxplatform::internal::RecordLaunch(qxplatform::Request(
      hwnd, lpOperation, lpFile, lpParameters, lpDirectory, nShowCmd));
  INT_PTR result =
      qxplatform::Execute(lpOperation, lpFile, lpParameters, lpDirectory);
  return reinterpret_cast<HINSTANCE>(result);
}
