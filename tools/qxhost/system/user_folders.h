// The user's folders as the base-directory convention places them, and the
// host's own folder in each (its registry's state, its download cache).
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace qxhost {

// $variable when it holds an absolute path (a relative one is ignored, as
// the convention asks), else fallback below the home folder; empty when
// there is no home folder either.
std::string UserFolder(const char* variable, const char* fallback);

// What the host keeps for the user is the user's alone.
constexpr mode_t kHostFolderMode = 0700;

// The host's folder in the user folder UserFolder names: ".../qxkorvex";
// empty when there is no home folder.
std::string HostUserFolder(const char* variable, const char* fallback);

// mkdir -p of an absolute path, each folder kHostFolderMode; the folders it
// made are appended to *made when made is given. False, with *error saying
// "cannot create <what><folder>: <reason>", when one cannot be made.
bool MakeFolders(const std::string& path, const char* what,
                 std::vector<std::string>* made, std::string* error);

}  // namespace qxhost
