// The registry as the type-library functions use it: keys under
// HKEY_CLASSES_ROOT by path, their default values as text, and whole trees
// removed. Texts are passed as UTF-16 and stored in the ANSI code page, as
// the registry's ANSI functions store them.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qxplatform {
namespace internal {

// Opens HKEY_CLASSES_ROOT\path for reading; null when it does not exist.
HKEY OpenClassesKey(const std::string& path);
// The value (the default value for an empty name) of HKEY_CLASSES_ROOT\path
// as text; false when the key or value is missing or holds no text.
bool ReadClassesText(const std::string& path, const char* valueName,
                     std::u16string* text);
// The names of the subkeys of HKEY_CLASSES_ROOT\path.
std::vector<std::string> ClassesSubkeys(const std::string& path);
// Creates HKEY_CLASSES_ROOT\path and sets one text value in it.
LSTATUS WriteClassesText(const std::string& path, const char* valueName,
                         const std::u16string& text);
// Deletes HKEY_CLASSES_ROOT\path with everything under it; a missing key is
// no error.
LSTATUS DeleteClassesTree(const std::string& path);
// True when HKEY_CLASSES_ROOT\path has neither subkeys nor values.
bool ClassesKeyIsEmpty(const std::string& path);

}  // namespace internal
}  // namespace qxplatform
