// "typelib FILE": prints a type library (a .tlb, or the TYPELIB resource of a
// native library or PE DLL, "FILE\N" for resource N) as IDL-like text.
#pragma once
#include <string>
#include <vector>

namespace qxhost {

struct TypelibRequest {
  std::string path;
};

// Checks the words after "typelib". False with *error on a usage error.
bool ParseTypelibArguments(const std::vector<std::string>& words,
                           TypelibRequest* request, std::string* error);

// Loads the library without registering it and prints it; returns the exit
// code (1 with "error: 0x%08X ..." when it cannot be loaded or read).
int RunTypelibCommand(const TypelibRequest& request);

}  // namespace qxhost
