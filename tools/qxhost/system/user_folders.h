// The user's folders as the base-directory convention places them.
#pragma once
#include <string>

namespace qxhost {

// $variable when it holds an absolute path (a relative one is ignored, as
// the convention asks), else fallback below the home folder; empty when
// there is no home folder either.
std::string UserFolder(const char* variable, const char* fallback);

}  // namespace qxhost
