// "regsvr32 [--user] [-u] LIBRARY": has an in-process server write (or remove) its
// own registry entries, as the system's regsvr32 does.
#pragma once
#include <string>
#include <vector>

namespace qxhost {

struct Regsvr32Request {
  std::string library;      // as typed, for messages
  std::string ansiLibrary;  // as LoadLibraryA takes it (argument_text.h)
  bool unregister = false;
  // For the current user only: HKEY_CLASSES_ROOT stands for the user's
  // classes (HKEY_CURRENT_USER\Software\Classes) during the call.
  bool perUser = false;
};

// Checks the words after "regsvr32", with the ANSI code page already chosen.
// False with *error on a usage error, which a library name with characters
// the code page lacks is.
bool ParseRegsvr32Arguments(const std::vector<std::string>& words,
                            Regsvr32Request* request, std::string* error);

// Loads the library and calls DllRegisterServer or DllUnregisterServer; the
// status is the last line of stdout. Exit 0 on S_OK, 1 on a failing status,
// 2 when the library cannot be loaded or lacks the export.
int RunRegsvr32Command(const Regsvr32Request& request);

}  // namespace qxhost
