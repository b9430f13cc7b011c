// How lstrcmpA and lstrcmpiA order ANSI text: as CompareString does for the
// user's default locale, with its word sort.
#pragma once

namespace qxplatform {
namespace internal {

// Negative, zero or positive as first sorts before, with or after second.
// Both are read in the ANSI code page, whole characters at a time. Null
// sorts before any text, even empty text.
int CompareWordSort(const char* first, const char* second, bool ignoreCase);

}  // namespace internal
}  // namespace qxplatform
