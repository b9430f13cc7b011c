// Codebase references as a browser reads a relative URL against the page:
// '\' separates like '/', %XX escapes are decoded per segment, "?query" is
// dropped. A scheme ("http:", "file:", a drive letter "C:") or a leading
// separator is not relative to the page; ".." is refused outright rather
// than resolved, so that no spelling of it can climb out of the folder,
// and links are checked once the file is resolved.
#include "tools/qxhost/install/codebase.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/qxhost/text/ascii_text.h"

namespace qxhost {
namespace {

constexpr char kVersionFragment[] = "version=";

bool IsSchemeCharacter(char c, bool first) {
  bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  if (first) return letter;
  return letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// "scheme:" at the start, as a URL parser finds one (a drive letter "C:"
// reads as a scheme too, and is no more relative).
bool HasScheme(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ':') return i > 0;
    if (!IsSchemeCharacter(text[i], i == 0)) return false;
  }
  return false;
}

// A segment with its %XX escapes decoded; false when an escape is broken or
// decodes to a separator, NUL or other control character.
bool DecodeSegment(const std::string& segment, std::string* decoded) {
  std::string out;
  for (size_t i = 0; i < segment.size(); ++i) {
    char c = segment[i];
    if (c == '%') {
      if (i + 2 >= segment.size()) return false;
      int high = HexDigitValue(segment[i + 1]);
      int low = HexDigitValue(segment[i + 2]);
      if (high < 0 || low < 0) return false;
      c = static_cast<char>(high * 16 + low);
      i += 2;
      if (c == '/' || c == '\\') return false;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    out += c;
  }
  *decoded = out;
  return true;
}

// Takes "#fragment" off text; a "#version=a,b,c,d" fragment is the version
// the page asks for, any other is ignored.
bool TakeFragment(std::string* text, Codebase* parsed, std::string* why) {
  size_t hash = text->find('#');
  if (hash == std::string::npos) return true;
  std::string fragment = text->substr(hash + 1);
  text->erase(hash);
  const size_t prefix = std::strlen(kVersionFragment);
  if (!EqualsIgnoringAsciiCase(fragment.substr(0, prefix), kVersionFragment))
    return true;
  if (!ParseFileVersion(fragment.substr(prefix), &parsed->version)) {
    *why = "its #version is not four numbers from 0 to 65535";
    return false;
  }
  parsed->hasVersion = true;
  return true;
}

// The reference as a path of decoded segments, '/' between them: a file
// below the page's folder, named without a scheme, a leading separator or
// "..".
bool ReadRelativePath(const std::string& text, std::string* relativePath,
                      std::string* why) {
  if (text.empty()) {
    *why = "it names no file";
    return false;
  }
  if (HasScheme(text)) {
    *why =
        "it is a URL or a drive path; this host installs only from the "
        "page's folder and never downloads";
    return false;
  }
  if (text[0] == '/' || text[0] == '\\') {
    *why = "it is an absolute path; it must name a file in the page's folder";
    return false;
  }
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("/\\", start);
    if (end == std::string::npos) end = text.size();
    std::string decoded;
    if (!DecodeSegment(text.substr(start, end - start), &decoded)) {
      *why =
          "it holds a broken escape, an escaped separator or a control "
          "character";
      return false;
    }
    if (decoded == "..") {
      *why = "it leaves the page's folder ('..')";
      return false;
    }
    if (!decoded.empty() && decoded != ".") segments.push_back(decoded);
    start = end + 1;
  }
  if (segments.empty() || text.back() == '/' || text.back() == '\\') {
    *why = "it names a folder, not a file";
    return false;
  }
  relativePath->clear();
  for (const std::string& segment : segments) {
    if (!relativePath->empty()) *relativePath += '/';
    *relativePath += segment;
  }
  return true;
}

}  // namespace

bool ParseCodebase(const std::string& attribute, Codebase* codebase,
                   std::string* why) {
  std::string text = Trimmed(attribute, kAsciiWhitespace);
  Codebase parsed;
  if (!TakeFragment(&text, &parsed, why)) return false;
  size_t query = text.find('?');
  if (query != std::string::npos) text.erase(query);
  if (!ReadRelativePath(text, &parsed.relativePath, why)) return false;
  *codebase = parsed;
  return true;
}

bool ResolveCodebase(const std::string& pageFolder,
                     const std::string& relativePath, std::string* file,
                     std::string* why) {
  std::string joined = pageFolder + "/" + relativePath;
  char* real = realpath(joined.c_str(), nullptr);
  if (real == nullptr) {
    *why = std::string("cannot find it: ") + std::strerror(errno);
    return false;
  }
  std::string resolved = real;
  free(real);
  std::string prefix = pageFolder == "/" ? "/" : pageFolder + "/";
  if (resolved.compare(0, prefix.size(), prefix) != 0) {
    *why = "a link in it leads out of the page's folder";
    return false;
  }
  *file = resolved;
  return true;
}

std::string PageFolderOf(const std::string& pageFile) {
  std::string folder = ".";
  size_t slash = pageFile.rfind('/');
  if (slash == 0) {
    folder = "/";
  } else if (slash != std::string::npos) {
    folder = pageFile.substr(0, slash);
  }
  char* real = realpath(folder.c_str(), nullptr);
  if (real == nullptr) return std::string();
  std::string resolved = real;
  free(real);
  return resolved;
}

}  // namespace qxhost
