// CESU-8 and UTF-16 conversions for the script bridge.
#include "tools/qxhost/engine_text.h"

namespace qxhost {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// One sequence from text[*index], advancing past it; never reads past
// length.
char32_t DecodeOne(const unsigned char* text, size_t length, size_t* index) {
  unsigned char lead = text[*index];
  ++*index;
  if (lead < 0x80) return lead;
  size_t extra = 0;
  char32_t value = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    value = lead & 0x07;
  } else {
    return kReplacement;
  }
  for (size_t i = 0; i < extra; ++i) {
    if (*index >= length || (text[*index] & 0xC0) != 0x80) return kReplacement;
    value = (value << 6) | (text[*index] & 0x3F);
    ++*index;
  }
  return value > 0x10FFFF ? kReplacement : value;
}

void AppendUtf8(char32_t value, std::string* out) {
  if (value < 0x80) {
    out->push_back(static_cast<char>(value));
  } else if (value < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (value >> 6)));
    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else if (value < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (value >> 12)));
    out->push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (value >> 18)));
    out->push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (value & 0x3F)));
  }
}

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

}  // namespace

std::u16string EngineTextToUtf16(const char* text, size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::u16string out;
  out.reserve(length);
  size_t index = 0;
  while (index < length) {
    char32_t value = DecodeOne(bytes, length, &index);
    if (value >= 0x10000) {
      value -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(value));
    }
  }
  return out;
}

std::string Utf16ToEngineText(const char16_t* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) AppendUtf8(text[i], &out);
  return out;
}

std::string EngineTextToUtf8(const char* text, size_t length) {
  std::u16string units = EngineTextToUtf16(text, length);
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t unit = units[i];
    if (IsHighSurrogate(unit) && i + 1 < units.size() &&
        IsLowSurrogate(units[i + 1])) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      unit = kReplacement;
    }
    AppendUtf8(unit, &out);
  }
  return out;
}

}  // namespace qxhost
