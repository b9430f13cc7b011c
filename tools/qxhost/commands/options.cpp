// Parsing of the global options. Each command checks its own words; here only
// the options that apply to every command are taken off the front.
#include "tools/qxhost/commands/options.h"

#include "tools/qxhost/commands/command_table.h"

#include <cerrno>
#include <cstdlib>

namespace qxhost {
namespace {

const char kUsageHead[] =
    "usage: qxhost [--registry FILE] [--acp CODEPAGE] [--os SYSTEM] "
    "[--processors N] [--standard-user] [--verbose] COMMAND ...\n";

const char kUsageOptions[] =
    "options:\n"
    "  --registry FILE  the registry database (default "
    "$XDG_STATE_HOME/qxkorvex/registry.db)\n"
    "  --acp CODEPAGE   the ANSI code page: 1252 (default) or 932\n"
    "  --os SYSTEM      the system version reported: nt-MAJOR.MINOR or "
    "9x-MAJOR.MINOR\n"
    "                   (default nt-6.1)\n"
    "  --processors N   the processor count reported (default: this "
    "machine's)\n"
    "  --standard-user  run as a user who is no administrator: writes to "
    "HKEY_LOCAL_MACHINE\n"
    "                   (and so to the machine's classes) are access "
    "denied\n"
    "  --verbose        print where each failure of the host's own code "
    "left a function\n"
    "exit codes: 0 success, 1 failure, 2 usage error (or a library "
    "regsvr32 cannot use)\n";

// Decimal digits only, at most maxDigits of them (so the value fits).
template <typename Number>
bool ParseNumber(const std::string& text, size_t maxDigits, Number* number) {
  if (text.empty() || text.size() > maxDigits) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *number = static_cast<Number>(std::strtoul(text.c_str(), nullptr, 10));
  return true;
}

// A code page number; which ones the platform has is its to say.
constexpr size_t kCodePageDigits = 5;
// A version part or a processor count.
constexpr size_t kSmallNumberDigits = 4;

// "nt-4.0" or "9x-4.10": the platform family and its version.
bool ParseSystem(const std::string& text, SystemOverride* system) {
  struct Family {
    const char* prefix;
    DWORD platformId;
  };
  static const Family kFamilies[] = {{"nt-", VER_PLATFORM_WIN32_NT},
                                     {"9x-", VER_PLATFORM_WIN32_WINDOWS}};
  for (const Family& family : kFamilies) {
    const std::string prefix = family.prefix;
    if (text.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string version = text.substr(prefix.size());
    const size_t dot = version.find('.');
    if (dot == std::string::npos) return false;
    if (!ParseNumber(version.substr(0, dot), kSmallNumberDigits,
                     &system->major) ||
        !ParseNumber(version.substr(dot + 1), kSmallNumberDigits,
                     &system->minor)) {
      return false;
    }
    system->platformId = family.platformId;
    system->setVersion = true;
    return true;
  }
  return false;
}

// "--name VALUE" or "--name=VALUE"; advances *index past what it used.
bool TakeValue(int argc, char** argv, int* index, const std::string& name,
               std::string* value, bool* matched, std::string* error) {
  std::string word = argv[*index];
  *matched = false;
  if (word == name) {
    *matched = true;
    if (*index + 1 >= argc) {
      *error = "option " + name + " needs a value";
      return false;
    }
    *value = argv[++*index];
    return true;
  }
  if (word.compare(0, name.size() + 1, name + "=") == 0) {
    *matched = true;
    *value = word.substr(name.size() + 1);
    return true;
  }
  return true;
}

// An option that takes a value, and how it reads the value into the
// options; false with *error when the value is not one.
struct ValuedOption {
  const char* name;
  bool (*read)(const std::string& value, HostOptions* options,
               std::string* error);
};

const ValuedOption kValuedOptions[] = {
    {"--registry",
     [](const std::string& value, HostOptions* options, std::string* error) {
       if (value.empty()) {
         *error = "option --registry needs a file name";
         return false;
       }
       options->registryPath = value;
       return true;
     }},
    {"--acp",
     [](const std::string& value, HostOptions* options, std::string* error) {
       if (ParseNumber(value, kCodePageDigits, &options->codePage)) return true;
       *error = "code page '" + value + "' is not a number";
       return false;
     }},
    {"--os",
     [](const std::string& value, HostOptions* options, std::string* error) {
       if (ParseSystem(value, &options->system)) return true;
       *error =
           "system '" + value + "' is not nt-MAJOR.MINOR or 9x-MAJOR.MINOR";
       return false;
     }},
    {"--processors",
     [](const std::string& value, HostOptions* options, std::string* error) {
       if (ParseNumber(value, kSmallNumberDigits,
                       &options->system.processors) &&
           options->system.processors != 0)
         return true;
       *error = "processor count '" + value + "' is not a number from 1";
       return false;
     }},
};

// The valued option argv[*index] names, if any (*matched), read into the
// options; false with *error when it is named without a usable value.
bool TakeValuedOption(int argc, char** argv, int* index, HostOptions* options,
                      bool* matched, std::string* error) {
  for (const ValuedOption& option : kValuedOptions) {
    std::string value;
    if (!TakeValue(argc, argv, index, option.name, &value, matched, error))
      return false;
    if (*matched) return option.read(value, options, error);
  }
  return true;
}

}  // namespace

const std::string& UsageText() {
  static const std::string usage =
      std::string(kUsageHead) + CommandUsage() + kUsageOptions;
  return usage;
}

bool ParseHostOptions(int argc, char** argv, HostOptions* options,
                      std::string* error) {
  int index = 1;
  for (; index < argc; ++index) {
    std::string word = argv[index];
    if (word.empty() || word[0] != '-') break;
    if (word == "--help" || word == "-h") {
      options->help = true;
      return true;
    }
    if (word == "--verbose") {
      options->verbose = true;
      continue;
    }
    if (word == "--standard-user") {
      options->standardUser = true;
      continue;
    }
    bool matched = false;
    if (!TakeValuedOption(argc, argv, &index, options, &matched, error))
      return false;
    if (matched) continue;
    *error = "unknown option '" + word + "'";
    return false;
  }
  if (index >= argc) {
    *error = "missing command";
    return false;
  }
  options->command = argv[index];
  if (FindCommand(options->command) == nullptr) {
    *error = "unknown command '" + options->command + "'";
    return false;
  }
  options->arguments.assign(argv + index + 1, argv + argc);
  return true;
}

}  // namespace qxhost
