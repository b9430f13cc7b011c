// "call --library PATH {CLSID} METHOD": loads an in-process server the way a
// COM client does, creates the object and calls one of its methods.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

namespace qxhost {

struct CallRequest {
  std::string library;
  CLSID clsid;
  std::string clsidText;  // as typed, for messages
  std::string method;
};

// Checks the words after "call". False with *error on a usage error.
bool ParseCallArguments(const std::vector<std::string>& words,
                        CallRequest* request, std::string* error);

// Runs the call; progress lines on stdout and, on success, the method's
// status as the last line. Returns the exit code.
int RunCallCommand(const CallRequest& request);

}  // namespace qxhost
