// The certificates a --trust file holds, checked as the option is read, so
// that a block the signature checker cannot use is named for what it is
// instead of surfacing later as a signature that "does not chain".
#pragma once
#include <string>

namespace qxhost {

// Checks that every PEM block of text (the contents of file, as read) is a
// certificate OpenSSL reads. True when all are; false with *problem naming
// the first that is not, counted from 1 ("the --trust file FILE holds a
// block that is not a certificate (block N)"), or why they could not be
// checked. Text outside the blocks (comments, as bundles carry) is ignored.
bool CheckTrustBundle(const std::string& file, const std::string& text,
                      std::string* problem);

}  // namespace qxhost
