// Between the names the platform's functions take (ANSI or UTF-16 text) and
// the file system's, which are bytes: the rule is in platform_internal.h.
// The fallback to the ANSI bytes is what keeps a file named on another
// system reachable: a folder copied with its Latin-1 or Shift-JIS name has no
// UTF-8 name, and the ANSI code page it was named in is the only text that
// leads to it. GetModuleFileNameA gives such a file's name back as those
// bytes, so that what a library registers for itself loads it again.
#include <sys/stat.h>

#include <string>

#include "platform_internal.h"

namespace qxplatform {
namespace internal {
namespace {

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// The UTF-8 name unless only the other one exists.
std::string Choose(std::string utf8, std::string bytes) {
  if (bytes == utf8 || bytes.empty() || Exists(utf8) || !Exists(bytes))
    return utf8;
  return bytes;
}

}  // namespace

std::string WideFileName(std::u16string_view wide) {
  std::string ansi;
  if (!WideToAnsiExact(wide, &ansi)) ansi.clear();
  return Choose(WideToUtf8(wide), ansi);
}

std::string FileNameToAnsi(std::string_view path) {
  bool valid = false;
  std::u16string text = Utf8ToWide(path, &valid);
  std::string ansi;
  if (valid && WideToAnsiExact(text, &ansi)) return ansi;
  return std::string(path);
}

std::u16string FileNameToWide(std::string_view path) {
  bool valid = false;
  std::u16string text = Utf8ToWide(path, &valid);
  return valid ? text : AnsiToWide(path);
}

}  // namespace internal
}  // namespace qxplatform
