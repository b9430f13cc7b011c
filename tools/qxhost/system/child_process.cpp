// Child processes through posix_spawn: the arguments reach the program as
// they are, so no file name or page text is ever read by a shell.
#include "tools/qxhost/system/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "tools/qxhost/system/posix_holders.h"

extern char** environ;

namespace qxhost {
namespace {

class SpawnActions {
 public:
  SpawnActions() { m_ok = posix_spawn_file_actions_init(&m_actions) == 0; }
  ~SpawnActions() {
    if (m_ok) posix_spawn_file_actions_destroy(&m_actions);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  bool ok() const { return m_ok; }
  posix_spawn_file_actions_t* get() { return &m_actions; }

 private:
  posix_spawn_file_actions_t m_actions;
  bool m_ok = false;
};

}  // namespace

bool RunChild(const std::vector<std::string>& argv, ChildResult* result,
              std::string* error) {
  if (argv.empty() || argv[0].empty() || argv[0][0] != '/') {
    *error = "no program to run";
    return false;
  }
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + strerror(errno);
    return false;
  }
  UniqueFd readEnd(ends[0]);
  UniqueFd writeEnd(ends[1]);
  SpawnActions actions;
  if (!actions.ok() ||
      posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY,
                                       0) != 0 ||
      posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), 1) != 0 ||
      posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), 2) != 0) {
    *error = "cannot prepare the child's files";
    return false;
  }
  std::vector<char*> words;
  words.reserve(argv.size() + 1);
  for (const std::string& word : argv)
    words.push_back(const_cast<char*>(word.c_str()));
  words.push_back(nullptr);

  pid_t child = -1;
  int spawned = posix_spawn(&child, argv[0].c_str(), actions.get(),
                            /*attrp=*/nullptr, words.data(), environ);
  writeEnd.reset();
  if (spawned != 0) {
    *error = "cannot run " + argv[0] + ": " + strerror(spawned);
    return false;
  }
  result->output.clear();
  char buffer[4096];
  for (;;) {
    ssize_t got = read(readEnd.get(), buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    size_t room = kMaxChildOutput - result->output.size();
    result->output.append(buffer, std::min(room, static_cast<size_t>(got)));
  }
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != child) {
    *error = "cannot wait for " + argv[0] + ": " + strerror(errno);
    return false;
  }
  result->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

}  // namespace qxhost
