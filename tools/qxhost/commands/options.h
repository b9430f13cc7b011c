// The host's command line: global options, then a command and its words.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qxhost {

// The ANSI code page when --acp is not given.
constexpr UINT kDefaultCodePage = 1252;

// What the platform reports as its version and processor count, for running
// a library as it runs on an older or a multiprocessor system.
struct SystemOverride {
  bool setVersion = false;
  DWORD platformId = 0;
  DWORD major = 0;
  DWORD minor = 0;
  DWORD processors = 0;  // 0: the machine's own count
};

struct HostOptions {
  std::string registryPath;  // empty: the default registry database
  UINT codePage = kDefaultCodePage;
  SystemOverride system;
  bool help = false;
  bool verbose = false;  // failures followed to their source on stderr
  // Runs as a user without an administrator's rights: the machine's part
  // of the registry refuses writes.
  bool standardUser = false;
  std::string command;   // a name the command table knows
  std::vector<std::string> arguments;  // the words after the command
};

// Parses argv. On a usage error returns false with a one-line reason.
bool ParseHostOptions(int argc, char** argv, HostOptions* options,
                      std::string* error);

// The usage text printed by --help.
const std::string& UsageText();

}  // namespace qxhost
