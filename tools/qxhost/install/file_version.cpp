// Versions of files and of registered classes. A library's version is read
// as the system's version API reads it: the library loaded as a data file,
// its RT_VERSION resource 1, whose VS_VERSIONINFO block starts with the
// fixed file information after its key "VS_VERSION_INFO".
#include "tools/qxhost/install/file_version.h"

#include <cstdio>
#include <cstring>

#include "base/holders.h"
#include "tools/qxhost/text/clsid_text.h"

namespace qxhost {
namespace {

constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;
// wLength, wValueLength, wType, then L"VS_VERSION_INFO" and its NUL, padded
// to a multiple of 4.
constexpr size_t kFixedInfoOffset = 6 + 16 * 2 + 2;
constexpr size_t kFixedInfoSize = 13 * 4;
constexpr char kServerKeyFormat[] = "CLSID\\%s\\InprocServer32";
constexpr DWORD kMaxServerPath = 4096;

uint32_t ReadLe32(const unsigned char* bytes) {
  return uint32_t{bytes[0]} | (uint32_t{bytes[1]} << 8) |
         (uint32_t{bytes[2]} << 16) | (uint32_t{bytes[3]} << 24);
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string FileVersion::Text() const {
  return std::to_string(numbers[0]) + "," + std::to_string(numbers[1]) + "," +
         std::to_string(numbers[2]) + "," + std::to_string(numbers[3]);
}

bool ParseFileVersion(const std::string& text, FileVersion* version) {
  FileVersion parsed;
  size_t at = 0;
  for (int index = 0; index < 4; ++index) {
    while (at < text.size() && IsSpace(text[at])) ++at;
    size_t digits = 0;
    uint32_t value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      value = value * 10 + static_cast<uint32_t>(text[at] - '0');
      if (value > 0xFFFF) return false;
      ++at;
      ++digits;
    }
    if (digits == 0) return false;
    parsed.numbers[index] = static_cast<uint16_t>(value);
    while (at < text.size() && IsSpace(text[at])) ++at;
    if (index < 3) {
      if (at >= text.size() || text[at] != ',') return false;
      ++at;
    }
  }
  if (at != text.size()) return false;
  *version = parsed;
  return true;
}

bool ReadFileVersion(const std::string& ansiPath, FileVersion* version) {
  UniqueLibrary module(LoadLibraryExA(ansiPath.c_str(), /*hFile=*/nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return false;
  HRSRC info = FindResourceA(module.get(), MAKEINTRESOURCE(1), RT_VERSION);
  if (info == nullptr) return false;
  DWORD size = SizeofResource(module.get(), info);
  HGLOBAL data = LoadResource(module.get(), info);
  const auto* bytes =
      static_cast<const unsigned char*>(data ? LockResource(data) : nullptr);
  if (bytes == nullptr || size < kFixedInfoOffset + kFixedInfoSize)
    return false;
  const unsigned char* fixed = bytes + kFixedInfoOffset;
  if (ReadLe32(fixed) != kFixedInfoSignature) return false;
  uint32_t high = ReadLe32(fixed + 8);
  uint32_t low = ReadLe32(fixed + 12);
  version->numbers[0] = static_cast<uint16_t>(high >> 16);
  version->numbers[1] = static_cast<uint16_t>(high & 0xFFFF);
  version->numbers[2] = static_cast<uint16_t>(low >> 16);
  version->numbers[3] = static_cast<uint16_t>(low & 0xFFFF);
  return true;
}

bool RegisteredServerPath(const CLSID& clsid, std::string* ansiPath) {
  char keyName[128];
  std::snprintf(keyName, sizeof(keyName), kServerKeyFormat,
                GuidText(clsid).c_str());
  UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName, 0, KEY_QUERY_VALUE,
                    key.put()) != ERROR_SUCCESS)
    return false;
  char path[kMaxServerPath];
  DWORD type = 0;
  DWORD size = sizeof(path);
  if (RegQueryValueExA(key.get(), /*lpValueName=*/nullptr, nullptr, &type,
                       reinterpret_cast<BYTE*>(path), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
    return false;
  // The value's NUL is counted in its size when it was stored with one.
  size_t length = strnlen(path, size);
  if (length == 0) return false;
  ansiPath->assign(path, length);
  return true;
}

}  // namespace qxhost
