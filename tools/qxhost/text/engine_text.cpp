// CESU-8 and UTF-16 conversions for the script bridge.
#include "tools/qxhost/text/engine_text.h"

#include <climits>

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

// Where text may be cut at or before maxBytes without splitting a sequence.
size_t CutPoint(const char* text, size_t length, size_t maxBytes) {
  if (length <= maxBytes) return length;
  size_t cut = maxBytes;
  for (int i = 0; i < 3 && cut > 0 &&
                  (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80;
       ++i)
    --cut;
  return cut;
}

constexpr char kCutMark[] = "...";

// A high surrogate's CESU-8 sequence: ED A0..AF xx.
bool IsHighSurrogateSequence(const char* text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  return bytes[0] == 0xED && (bytes[1] & 0xF0) == 0xA0;
}

// Appends text (whole sequences, no pair split) as UTF-8, as the platform
// encodes UTF-16: a pair becomes one code point, a surrogate alone U+FFFD.
void AppendAsUtf8(const char* text, size_t length, std::string* out) {
  if (length == 0) return;
  const std::u16string units = EngineTextToUtf16(text, length);
  AppendUtf16AsUtf8(units.data(), units.size(), out);
}

}  // namespace

size_t EngineTextUtf16Length(const char* text, size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t units = 0;
  size_t index = 0;
  while (index < length)
    units += DecodeOne(bytes, length, &index) >= 0x10000 ? 2 : 1;
  return units;
}

void EngineTextToUtf16(const char* text, size_t length, char16_t* out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t index = 0;
  while (index < length) {
    char32_t value = DecodeOne(bytes, length, &index);
    if (value >= 0x10000) {
      value -= 0x10000;
      *out++ = static_cast<char16_t>(0xD800 + (value >> 10));
      *out++ = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
    } else {
      *out++ = static_cast<char16_t>(value);
    }
  }
}

std::u16string EngineTextToUtf16(const char* text, size_t length) {
  std::u16string out(EngineTextUtf16Length(text, length), u'\0');
  EngineTextToUtf16(text, length, &out[0]);
  return out;
}

size_t Utf16EngineTextLength(const char16_t* text, size_t length) {
  size_t bytes = 0;
  for (size_t i = 0; i < length; ++i)
    bytes += text[i] < 0x80 ? 1 : text[i] < 0x800 ? 2 : 3;
  return bytes;
}

void Utf16ToEngineText(const char16_t* text, size_t length, char* out) {
  for (size_t i = 0; i < length; ++i) {
    char16_t unit = text[i];
    if (unit < 0x80) {
      *out++ = static_cast<char>(unit);
    } else if (unit < 0x800) {
      *out++ = static_cast<char>(0xC0 | (unit >> 6));
      *out++ = static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      *out++ = static_cast<char>(0xE0 | (unit >> 12));
      *out++ = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      *out++ = static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
}

std::string Utf16ToEngineText(const char16_t* text, size_t length) {
  std::string out(Utf16EngineTextLength(text, length), '\0');
  Utf16ToEngineText(text, length, &out[0]);
  return out;
}

bool AppendUtf16AsUtf8(const char16_t* text, size_t length, std::string* out) {
  if (length == 0) return true;
  if (length > static_cast<size_t>(INT_MAX)) return false;
  const int count = static_cast<int>(length);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, count, nullptr, 0,
                                        nullptr, nullptr);
  if (bytes <= 0) return false;
  const size_t start = out->size();
  out->resize(start + static_cast<size_t>(bytes));
  if (WideCharToMultiByte(CP_UTF8, 0, text, count, &(*out)[start], bytes,
                          nullptr, nullptr) != bytes) {
    out->resize(start);
    return false;
  }
  return true;
}

std::string QuotedEngineText(const char* text, size_t length) {
  size_t kept = CutPoint(text, length, kMaxQuotedText);
  std::string out(text, kept);
  if (kept < length) out += kCutMark;
  return out;
}

std::string EngineTextToUtf8(const char* text, size_t length, size_t maxBytes) {
  size_t kept = CutPoint(text, length, maxBytes);
  std::string out;
  out.reserve(kept + sizeof kCutMark);
  AppendAsUtf8(text, kept, &out);
  if (kept < length) out += kCutMark;
  return out;
}

bool WriteEngineTextAsUtf8(const char* text, size_t length, std::FILE* file) {
  constexpr size_t kPiece = 16384;
  std::string buffer;
  bool written = true;
  while (length > 0) {
    // Pieces end between sequences, and never between the two halves of a
    // pair, which only together make one code point.
    size_t piece = CutPoint(text, length, kPiece);
    if (piece < length && piece >= 3 &&
        IsHighSurrogateSequence(text + piece - 3))
      piece -= 3;
    buffer.clear();
    AppendAsUtf8(text, piece, &buffer);
    written =
        std::fwrite(buffer.data(), 1, buffer.size(), file) == buffer.size() &&
        written;
    text += piece;
    length -= piece;
  }
  return written;
}

std::string EscapeControlCharacters(const std::string& utf8) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    } else if (byte == 0xC2 && i + 1 < utf8.size() &&
               static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
      auto control = static_cast<unsigned char>(utf8[i + 1]);
      out += "\\u00";
      out.push_back(kHex[control >> 4]);
      out.push_back(kHex[control & 0xF]);
      ++i;
    } else {
      out.push_back(static_cast<char>(byte));
    }
  }
  return out;
}

void ReportLine(const std::string& utf8) {
  std::fflush(stdout);
  std::string line = EscapeControlCharacters(utf8);
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace qxhost
