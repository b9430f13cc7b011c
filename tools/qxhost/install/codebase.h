// An <object>'s codebase attribute: where the page says the class's
// package is ("qxKorvex.cab#version=1,0,0,6"). This host installs only
// from files in the page's own folder tree and never downloads, so the
// codebase is read as a relative file reference, and anything else (a URL,
// an absolute path, a way out of the folder) is refused.
#pragma once
#include <string>

#include "tools/qxhost/install/file_version.h"

namespace qxhost {

struct Codebase {
  std::string relativePath;  // decoded, '/'-separated, no "." or ".."
  bool hasVersion = false;   // #version=a,b,c,d was given
  FileVersion version;
};

// Reads the attribute. False with *why (a phrase) when it is a URL, absolute,
// leaves its folder, or is otherwise not a relative file reference, or when
// its #version is not four numbers.
bool ParseCodebase(const std::string& attribute, Codebase* codebase,
                   std::string* why);

// The file the codebase names, inside pageFolder (an absolute, resolved
// folder): every link resolved, and still inside the folder's tree. False
// with *why when it does not exist or leads out of the tree.
bool ResolveCodebase(const std::string& pageFolder,
                     const std::string& relativePath, std::string* file,
                     std::string* why);

// The resolved folder a page file stands in; "" when it cannot be resolved.
std::string PageFolderOf(const std::string& pageFile);

}  // namespace qxhost
