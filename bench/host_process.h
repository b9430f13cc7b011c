// Running qxhost as a benchmark's child process, its output discarded.
#pragma once
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

// Runs QX_QXHOST_PATH with arguments; -1 on failure, else its largest
// resident size in KiB.
inline long RunHost(const std::vector<std::string>& arguments) {
  pid_t child = fork();
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("qxhost"));
    for (const std::string& word : arguments)
      argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    execv(QX_QXHOST_PATH, argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (child < 0 || wait4(child, &status, 0, &usage) != child ||
      !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return usage.ru_maxrss;
}
