// Byte-level decoding of .reg files for import.
#include "tools/qxhost/reg_file_text.h"

#include <errno.h>
#include <string.h>

#include <cstdio>

namespace qxhost {
namespace {

constexpr unsigned char kUtf8Bom[] = {0xEF, 0xBB, 0xBF};
constexpr unsigned char kUtf16LeBom[] = {0xFF, 0xFE};
constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kSurrogateEnd = 0xE000;

bool StartsWith(const std::string& bytes, const unsigned char* prefix,
                size_t size) {
  return bytes.size() >= size && memcmp(bytes.data(), prefix, size) == 0;
}

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool Utf16LeToUtf8(const std::string& bytes, size_t offset, std::string* out,
                   std::string* error) {
  if ((bytes.size() - offset) % 2 != 0) {
    *error = "UTF-16 text ends in the middle of a character";
    return false;
  }
  auto unitAt = [&bytes](size_t i) {
    return static_cast<char32_t>(
        static_cast<unsigned char>(bytes[i]) |
        (static_cast<unsigned char>(bytes[i + 1]) << 8));
  };
  for (size_t i = offset; i < bytes.size(); i += 2) {
    char32_t unit = unitAt(i);
    if (unit >= kHighSurrogateFirst && unit < kSurrogateEnd) {
      bool paired = unit < kLowSurrogateFirst && i + 3 < bytes.size();
      char32_t low = paired ? unitAt(i + 2) : 0;
      if (!paired || low < kLowSurrogateFirst || low >= kSurrogateEnd) {
        *error = "UTF-16 text holds an unpaired surrogate";
        return false;
      }
      unit = 0x10000 + ((unit - kHighSurrogateFirst) << 10) +
             (low - kLowSurrogateFirst);
      i += 2;
    }
    AppendUtf8(unit, out);
  }
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* bytes,
                   std::string* error) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  bytes->clear();
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
    bytes->append(buffer, got);
  bool failed = std::ferror(file) != 0;
  int readError = errno;
  std::fclose(file);
  if (failed) {
    *error = "cannot read " + path + ": " + strerror(readError);
    return false;
  }
  return true;
}

bool DecodeRegFileText(const std::string& bytes, std::string* utf8,
                       std::string* error) {
  utf8->clear();
  if (StartsWith(bytes, kUtf16LeBom, sizeof(kUtf16LeBom)))
    return Utf16LeToUtf8(bytes, sizeof(kUtf16LeBom), utf8, error);
  if (StartsWith(bytes, kUtf8Bom, sizeof(kUtf8Bom))) {
    utf8->assign(bytes, sizeof(kUtf8Bom), std::string::npos);
    return true;
  }
  *utf8 = bytes;
  return true;
}

}  // namespace qxhost
