// "call CLASS METHOD": creates an object and calls one of its methods. The
// class is a ProgID or a {CLSID} registered in the registry, created through
// CoCreateInstance; with "--library PATH" it is a {CLSID} served by that
// library, loaded directly with no registration needed.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

namespace qxhost {

struct CallRequest {
  std::string library;      // empty: activation through the registry
  std::string ansiLibrary;  // as LoadLibraryA takes it (argument_text.h)
  CLSID clsid = {};         // when the class was given as a {CLSID}
  std::string progId;       // when it was given as a ProgID, as typed
  std::string classText;    // as typed, for messages
  std::string method;
};

// Checks the words after "call", with the ANSI code page already chosen.
// False with *error on a usage error, which a library name with characters
// the code page lacks is.
bool ParseCallArguments(const std::vector<std::string>& words,
                        CallRequest* request, std::string* error);

// Runs the call; progress lines on stdout and, on success, the method's
// status as the last line. Returns the exit code.
int RunCallCommand(const CallRequest& request);

}  // namespace qxhost
