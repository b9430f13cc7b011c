// Writing .reg text as regedit does: a section per key, values as quoted
// text, dword: or hex(type): bytes, long hex data continued over lines.
#include "registry_text.h"

#include <cstdio>

namespace qxplatform {
namespace internal {
namespace {

constexpr char kNewline[] = "\r\n";
constexpr size_t kHexLineLimit = 77;

bool HasLineBreak(std::u16string_view text) {
  return text.find(u'\r') != std::u16string_view::npos ||
         text.find(u'\n') != std::u16string_view::npos;
}

// True when UTF-8 carries the text unchanged: no unpaired surrogate.
bool IsWellFormed(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
        return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::string Escape(std::u16string_view text) {
  std::string utf8 = WideToUtf8(text);
  std::string result;
  for (char c : utf8) {
    if (c == '\\' || c == '"') result.push_back('\\');
    result.push_back(c);
  }
  return result;
}

// A REG_SZ that reads back identically from "quoted" form: one terminating
// zero, no other zero or control character, no unpaired surrogate.
bool FitsQuotedForm(const RegValue& value, std::u16string* text) {
  if (value.type != REG_SZ || value.data.size() < 2 ||
      value.data.size() % 2 != 0)
    return false;
  text->clear();
  for (size_t i = 0; i + 1 < value.data.size(); i += 2)
    text->push_back(
        static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8)));
  if (text->back() != u'\0') return false;
  text->pop_back();
  for (char16_t c : *text) {
    if (c < 0x20) return false;
  }
  return IsWellFormed(*text);
}

void AppendHex(const RegValue& value, std::string* line, std::string* out) {
  char prefix[24];
  if (value.type == REG_BINARY) {
    std::snprintf(prefix, sizeof(prefix), "hex:");
  } else {
    std::snprintf(prefix, sizeof(prefix),
                  "hex(%x):", static_cast<unsigned>(value.type));
  }
  *line += prefix;
  for (size_t i = 0; i < value.data.size(); ++i) {
    char item[4];
    std::snprintf(item, sizeof(item), "%02x", value.data[i]);
    bool last = i + 1 == value.data.size();
    if (line->size() + 3 > kHexLineLimit) {
      *out += *line + "\\" + kNewline;
      *line = "  ";
    }
    *line += item;
    if (!last) *line += ",";
  }
  *out += *line + kNewline;
}

void AppendValue(const RegValue& value, std::string* out) {
  std::string line =
      value.name.empty() ? "@=" : "\"" + Escape(value.name) + "\"=";
  std::u16string text;
  if (FitsQuotedForm(value, &text)) {
    *out += line + "\"" + Escape(text) + "\"" + kNewline;
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    char number[20];
    unsigned dword = value.data[0] | (value.data[1] << 8) |
                     (value.data[2] << 16) |
                     (static_cast<unsigned>(value.data[3]) << 24);
    std::snprintf(number, sizeof(number), "dword:%08x", dword);
    *out += line + number + kNewline;
  } else {
    AppendHex(value, &line, out);
  }
}

}  // namespace

bool IsWritableName(std::u16string_view name) {
  return !HasLineBreak(name) && IsWellFormed(name);
}

std::string RegTextHeader() {
  return std::string(kRegTextHeader) + kNewline + kNewline;
}

std::string RegFileHeader() {
  return std::string(kRegTextHeader) + kNewline + kRegFileCompleteMark +
         kNewline + kNewline;
}

std::string RegFileClosing() {
  return std::string(kRegFileClosingLine) + kNewline;
}

bool AppendKeySections(const RegKey& key, const std::u16string& path,
                       bool writeSelf, bool skipVolatile, std::string* out,
                       std::string* error) {
  if (skipVolatile && key.isVolatile) return true;
  if (writeSelf) {
    if (!IsWritableName(key.name)) {
      *error = "key " + WideToUtf8(path) + ": the name cannot be written";
      return false;
    }
    *out += "[" + WideToUtf8(path) + "]" + kNewline;
    for (const RegValue& value : key.values) {
      if (!IsWritableName(value.name)) {
        *error = "key " + WideToUtf8(path) + ": a value name cannot be written";
        return false;
      }
      AppendValue(value, out);
    }
    *out += kNewline;
  }
  for (const auto& entry : key.subkeys) {
    const RegKey& subkey = *entry.second;
    if (!AppendKeySections(subkey, path + u"\\" + subkey.name,
                           /*writeSelf=*/true, skipVolatile, out, error))
      return false;
  }
  return true;
}

}  // namespace internal
}  // namespace qxplatform
