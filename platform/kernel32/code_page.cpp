// The ANSI code page and the conversions between multibyte text and UTF-16.
// Each supported code page is turned into lookup tables once, when it is
// first needed (1252 from the table below, 932 with iconv), so conversions
// themselves only index tables. UTF-8 is decoded and encoded directly.
#include <iconv.h>
#include <qxplatform/controls.h>
#include <string.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kernel_internal.h"
#include "platform_internal.h"

namespace {

constexpr UINT kWestern = 1252;
constexpr UINT kJapanese = 932;
constexpr UINT kDefaultAnsiCodePage = kWestern;

constexpr char16_t kReplacementCharacter = 0xFFFD;
constexpr char kDefaultChar = '?';
// What an undefined double-byte sequence of 932 reads as: KATAKANA MIDDLE DOT.
constexpr char16_t kJapaneseUnicodeDefault = 0x30FB;
constexpr uint16_t kUnmapped = 0xFFFF;

constexpr DWORD kMbPrecomposed = MB_PRECOMPOSED;
constexpr DWORD kMbComposite = 0x00000002;
constexpr DWORD kMbUseGlyphChars = 0x00000004;
constexpr DWORD kMbTableFlags =
    kMbPrecomposed | kMbComposite | kMbUseGlyphChars | MB_ERR_INVALID_CHARS;
constexpr DWORD kWcCompositeCheck = 0x00000200;
constexpr DWORD kWcDiscardNs = 0x00000010;
constexpr DWORD kWcSepChars = 0x00000020;
constexpr DWORD kWcDefaultChar = 0x00000040;
constexpr DWORD kWcTableFlags = kWcCompositeCheck | kWcDiscardNs | kWcSepChars |
                                kWcDefaultChar | WC_NO_BEST_FIT_CHARS;

// Windows-1252 differs from Latin-1 only in 0x80-0x9F. The five bytes it
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) pass through as the C1
// controls of the same value.
constexpr char16_t kWestern80To9F[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Single bytes of 932 outside ASCII and the half-width katakana that iconv
// does not map the way Windows does.
struct ByteMapping {
  unsigned char byte;
  char16_t unit;
};
constexpr ByteMapping kJapaneseSingleExtras[] = {{0x80, 0x0080},
                                                 {0xA0, 0xF8F0},
                                                 {0xFD, 0xF8F1},
                                                 {0xFE, 0xF8F2},
                                                 {0xFF, 0xF8F3}};
constexpr unsigned char kHalfWidthKatakanaFirst = 0xA1;
constexpr unsigned char kHalfWidthKatakanaLast = 0xDF;
constexpr char16_t kHalfWidthKatakanaBase = 0xFF61;
// The user-defined rows 0xF0-0xF9 map onto the private use area.
constexpr unsigned char kUserDefinedFirstLead = 0xF0;
constexpr unsigned char kUserDefinedLastLead = 0xF9;
constexpr char16_t kPrivateUseBase = 0xE000;
constexpr int kTrailsPerLead = 188;

struct CodePageTable {
  UINT id = 0;
  bool leadByte[256] = {};
  char16_t single[256] = {};
  std::vector<char16_t> pairs;        // lead * 256 + trail -> unit, 0: none
  std::vector<uint16_t> fromUnicode;  // unit -> byte or lead << 8 | trail
  char16_t unicodeDefault = kDefaultChar;
};

bool IsJapaneseLead(unsigned b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsJapaneseTrail(unsigned b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool IsSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

std::unique_ptr<CodePageTable> BuildWestern() {
  auto table = std::make_unique<CodePageTable>();
  table->id = kWestern;
  table->fromUnicode.assign(0x10000, kUnmapped);
  for (unsigned b = 0; b < 256; ++b) {
    char16_t unit = (b >= 0x80 && b <= 0x9F) ? kWestern80To9F[b - 0x80]
                                             : static_cast<char16_t>(b);
    table->single[b] = unit;
    table->fromUnicode[unit] = static_cast<uint16_t>(b);
  }
  return table;
}

// One double-byte sequence through iconv; 0 when iconv has no mapping.
char16_t IconvPair(iconv_t toUnicode, unsigned char lead, unsigned char trail) {
  char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  unsigned char out[8];
  char* inPtr = in;
  char* outPtr = reinterpret_cast<char*>(out);
  size_t inLeft = 2;
  size_t outLeft = sizeof(out);
  iconv(toUnicode, nullptr, nullptr, nullptr, nullptr);
  if (iconv(toUnicode, &inPtr, &inLeft, &outPtr, &outLeft) == (size_t)-1 ||
      inLeft != 0 || sizeof(out) - outLeft != 2)
    return 0;
  return static_cast<char16_t>(out[0] | (out[1] << 8));
}

// iconv's choice of bytes for one unit, or kUnmapped.
uint16_t IconvUnit(iconv_t fromUnicode, char16_t unit) {
  unsigned char in[2] = {static_cast<unsigned char>(unit & 0xFF),
                         static_cast<unsigned char>(unit >> 8)};
  unsigned char out[8];
  char* inPtr = reinterpret_cast<char*>(in);
  char* outPtr = reinterpret_cast<char*>(out);
  size_t inLeft = 2;
  size_t outLeft = sizeof(out);
  iconv(fromUnicode, nullptr, nullptr, nullptr, nullptr);
  if (iconv(fromUnicode, &inPtr, &inLeft, &outPtr, &outLeft) == (size_t)-1 ||
      inLeft != 0)
    return kUnmapped;
  size_t produced = sizeof(out) - outLeft;
  if (produced == 1) return out[0];
  if (produced == 2) return static_cast<uint16_t>(out[0] << 8 | out[1]);
  return kUnmapped;
}

std::unique_ptr<CodePageTable> BuildJapanese() {
  iconv_t toUnicode = iconv_open("UTF-16LE", "CP932");
  if (toUnicode == (iconv_t)-1) return nullptr;
  iconv_t fromUnicode = iconv_open("CP932", "UTF-16LE");
  if (fromUnicode == (iconv_t)-1) {
    iconv_close(toUnicode);
    return nullptr;
  }
  auto table = std::make_unique<CodePageTable>();
  table->id = kJapanese;
  table->unicodeDefault = kJapaneseUnicodeDefault;
  table->pairs.assign(0x10000, 0);
  table->fromUnicode.assign(0x10000, kUnmapped);
  for (unsigned b = 0; b < 0x80; ++b)
    table->single[b] = static_cast<char16_t>(b);
  for (unsigned b = kHalfWidthKatakanaFirst; b <= kHalfWidthKatakanaLast; ++b)
    table->single[b] = static_cast<char16_t>(kHalfWidthKatakanaBase +
                                             (b - kHalfWidthKatakanaFirst));
  for (const ByteMapping& extra : kJapaneseSingleExtras)
    table->single[extra.byte] = extra.unit;
  for (unsigned b = 0; b < 256; ++b) {
    table->leadByte[b] = IsJapaneseLead(b);
    if (!table->leadByte[b]) table->fromUnicode[table->single[b]] = b;
  }
  // Several double-byte sequences can read as the same character (the NEC
  // and IBM extension rows); iconv decides which one writing it produces.
  for (unsigned lead = 0; lead < 256; ++lead) {
    if (!IsJapaneseLead(lead)) continue;
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (!IsJapaneseTrail(trail)) continue;
      char16_t unit = IconvPair(toUnicode, static_cast<unsigned char>(lead),
                                static_cast<unsigned char>(trail));
      if (unit == 0 && lead >= kUserDefinedFirstLead &&
          lead <= kUserDefinedLastLead) {
        int trailIndex = trail < 0x7F ? trail - 0x40 : trail - 0x41;
        unit = static_cast<char16_t>(
            kPrivateUseBase + (lead - kUserDefinedFirstLead) * kTrailsPerLead +
            trailIndex);
      }
      if (unit == 0) continue;
      uint16_t code = static_cast<uint16_t>(lead << 8 | trail);
      table->pairs[code] = unit;
      uint16_t& back = table->fromUnicode[unit];
      if (back == kUnmapped) {
        back = code;
      } else if (back != code) {
        uint16_t chosen = IconvUnit(fromUnicode, unit);
        if (chosen == code) back = code;
      }
    }
  }
  iconv_close(toUnicode);
  iconv_close(fromUnicode);
  return table;
}

struct CodePages {
  std::once_flag westernOnce;
  std::once_flag japaneseOnce;
  std::unique_ptr<CodePageTable> western;
  std::unique_ptr<CodePageTable> japanese;
  std::atomic<const CodePageTable*> ansi{nullptr};
  // FailMultiByteToWideCharAt: which call fails, and the error it leaves.
  qxplatform::internal::FailureCountdown failDecode;
  std::atomic<DWORD> failDecodeError{ERROR_SUCCESS};
};

CodePages& Pages() {
  static CodePages& pages = *new CodePages;
  return pages;
}

const CodePageTable* TableFor(UINT id) {
  CodePages& pages = Pages();
  if (id == kWestern) {
    std::call_once(pages.westernOnce, [&] { pages.western = BuildWestern(); });
    return pages.western.get();
  }
  if (id == kJapanese) {
    std::call_once(pages.japaneseOnce,
                   [&] { pages.japanese = BuildJapanese(); });
    return pages.japanese.get();
  }
  return nullptr;
}

const CodePageTable& AnsiTable() {
  const CodePageTable* table = Pages().ansi.load();
  if (table == nullptr) {
    table = TableFor(kDefaultAnsiCodePage);
    const CodePageTable* expected = nullptr;
    Pages().ansi.compare_exchange_strong(expected, table);
    table = Pages().ansi.load();
  }
  return *table;
}

// The code page a conversion call names: a table, UTF-8, or nothing.
struct Target {
  const CodePageTable* table = nullptr;
  bool utf8 = false;
  bool valid = false;
};

Target ResolveCodePage(UINT codePage) {
  Target target;
  if (codePage == CP_UTF8) {
    target.utf8 = target.valid = true;
  } else if (codePage == CP_ACP || codePage == CP_THREAD_ACP) {
    target.table = &AnsiTable();
    target.valid = true;
  } else {
    target.table = TableFor(codePage);
    target.valid = target.table != nullptr;
  }
  return target;
}

// ---- decoding ---------------------------------------------------------------

// Appends the units of a multibyte text; false (strict) at the first byte
// sequence that has no character.
bool DecodeTable(const CodePageTable& table, const unsigned char* text,
                 size_t length, bool strict, std::u16string* out) {
  for (size_t i = 0; i < length;) {
    unsigned char b = text[i];
    if (!table.leadByte[b]) {
      out->push_back(table.single[b]);
      ++i;
      continue;
    }
    // A lead byte needs a trail byte: at the end of the input, or before
    // a byte that cannot be a trail, it stands alone for the default.
    if (i + 1 >= length || !IsJapaneseTrail(text[i + 1])) {
      if (strict) return false;
      out->push_back(table.unicodeDefault);
      ++i;
      continue;
    }
    char16_t unit = table.pairs[b << 8 | text[i + 1]];
    if (unit == 0) {
      if (strict) return false;
      unit = table.unicodeDefault;
    }
    out->push_back(unit);
    i += 2;
  }
  return true;
}

void AppendCodePoint(char32_t cp, std::u16string* out) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// UTF-8 with the usual rules: no overlong forms, no surrogates, nothing past
// U+10FFFF. Each maximal invalid subpart becomes one U+FFFD.
bool DecodeUtf8(const unsigned char* text, size_t length, bool strict,
                std::u16string* out) {
  bool clean = true;
  for (size_t i = 0; i < length;) {
    unsigned char b = text[i];
    if (b < 0x80) {
      out->push_back(b);
      ++i;
      continue;
    }
    size_t need = 0;
    char32_t cp = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    }
    size_t consumed = 1;
    bool ok = need != 0;
    for (size_t k = 0; ok && k < need; ++k) {
      if (i + consumed >= length) {
        ok = false;
        break;
      }
      unsigned char c = text[i + consumed];
      if (c < low || c > high) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
      ++consumed;
      low = 0x80;
      high = 0xBF;
    }
    if (!ok) {
      if (strict) return false;
      clean = false;
      out->push_back(kReplacementCharacter);
    } else {
      AppendCodePoint(cp, out);
    }
    i += consumed;
  }
  return clean || !strict;
}

// ---- encoding ---------------------------------------------------------------

void AppendCode(uint16_t code, std::string* out) {
  if (code > 0xFF) out->push_back(static_cast<char>(code >> 8));
  out->push_back(static_cast<char>(code & 0xFF));
}

// The bytes that stand for a character the code page lacks.
std::string DefaultBytes(const CodePageTable& table, LPCSTR defaultChar) {
  if (defaultChar == nullptr || defaultChar[0] == '\0')
    return std::string(1, kDefaultChar);
  unsigned char first = static_cast<unsigned char>(defaultChar[0]);
  if (table.leadByte[first] && defaultChar[1] != '\0')
    return std::string(defaultChar, 2);
  return std::string(1, defaultChar[0]);
}

void EncodeTable(const CodePageTable& table, const char16_t* text,
                 size_t length, const std::string& defaultBytes,
                 bool* usedDefault, std::string* out) {
  for (size_t i = 0; i < length; ++i) {
    char16_t unit = text[i];
    uint16_t code = IsSurrogate(unit) ? kUnmapped : table.fromUnicode[unit];
    if (code != kUnmapped) {
      AppendCode(code, out);
      continue;
    }
    // A surrogate pair is one character and gets one default character.
    if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(text[i + 1]))
      ++i;
    out->append(defaultBytes);
    *usedDefault = true;
  }
}

bool EncodeUtf8(const char16_t* text, size_t length, bool strict,
                std::string* out) {
  for (size_t i = 0; i < length; ++i) {
    char32_t cp = text[i];
    if (IsHighSurrogate(text[i]) && i + 1 < length &&
        IsLowSurrogate(text[i + 1])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (IsSurrogate(text[i])) {
      if (strict) return false;
      cp = kReplacementCharacter;
    }
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return true;
}

// Hands a finished conversion to the caller: its size when the caller asked
// for the size, else as much as fits, with the result the API gives.
template <typename Unit>
int Deliver(const std::basic_string<Unit>& result, Unit* buffer, int capacity) {
  if (result.size() > 0x7FFFFFFF) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  int size = static_cast<int>(result.size());
  if (capacity == 0) return size;
  if (size > capacity) {
    memcpy(buffer, result.data(), sizeof(Unit) * capacity);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(buffer, result.data(), sizeof(Unit) * size);
  return size;
}

}  // namespace

UINT WINAPI GetACP(void) { return AnsiTable().id; }

BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) {
  if (TestChar < 0x80) return FALSE;  // no code page leads with ASCII
  return AnsiTable().leadByte[TestChar] ? TRUE : FALSE;
}

BOOL WINAPI IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar) {
  Target target = ResolveCodePage(CodePage);
  if (!target.valid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (target.utf8) return FALSE;
  return target.table->leadByte[TestChar] ? TRUE : FALSE;
}

// The arguments both conversions share: a source of sourceLength units (-1:
// up to and with its terminator, never 0), a destination of destLength
// units (0: only measure) apart from the source, and a code page this
// system has. False, with ERROR_INVALID_PARAMETER set, when any is wrong.
static bool ResolveConversion(UINT codePage, const void* source,
                              int sourceLength, const void* dest,
                              int destLength, Target* target) {
  if (source == nullptr || sourceLength == 0 || sourceLength < -1 ||
      destLength < 0 || (destLength > 0 && dest == nullptr) || source == dest) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  *target = ResolveCodePage(codePage);
  if (!target->valid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags,
                               LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  if (Pages().failDecode.ShouldFail()) {
    SetLastError(Pages().failDecodeError.load());
    return 0;
  }
  Target target;
  if (!ResolveConversion(CodePage, lpMultiByteStr, cbMultiByte, lpWideCharStr,
                         cchWideChar, &target))
    return 0;
  DWORD allowed = target.utf8 ? MB_ERR_INVALID_CHARS : kMbTableFlags;
  if ((dwFlags & ~allowed) != 0 ||
      ((dwFlags & kMbPrecomposed) != 0 && (dwFlags & kMbComposite) != 0)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  size_t length = cbMultiByte == -1 ? strlen(lpMultiByteStr) + 1
                                    : static_cast<size_t>(cbMultiByte);
  const auto* bytes = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
  std::u16string result;
  bool ok = target.utf8
                ? DecodeUtf8(bytes, length, strict, &result)
                : DecodeTable(*target.table, bytes, length, strict, &result);
  if (!ok) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  return Deliver<char16_t>(result, lpWideCharStr, cchWideChar);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags,
                               LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte,
                               LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  Target target;
  if (!ResolveConversion(CodePage, lpWideCharStr, cchWideChar, lpMultiByteStr,
                         cbMultiByte, &target))
    return 0;
  if (target.utf8 &&
      (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD allowed = target.utf8 ? WC_ERR_INVALID_CHARS : kWcTableFlags;
  if ((dwFlags & ~allowed) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  size_t length = cchWideChar == -1
                      ? std::char_traits<char16_t>::length(lpWideCharStr) + 1
                      : static_cast<size_t>(cchWideChar);
  std::string result;
  bool usedDefault = false;
  if (target.utf8) {
    if (!EncodeUtf8(lpWideCharStr, length,
                    (dwFlags & WC_ERR_INVALID_CHARS) != 0, &result)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else {
    EncodeTable(*target.table, lpWideCharStr, length,
                DefaultBytes(*target.table, lpDefaultChar), &usedDefault,
                &result);
  }
  if (lpUsedDefaultChar != nullptr)
    *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
  return Deliver<char>(result, lpMultiByteStr, cbMultiByte);
}

namespace qxplatform {

bool SetAnsiCodePage(UINT codePage) {
  if (codePage != kWestern && codePage != kJapanese) return false;
  const CodePageTable* table = TableFor(codePage);
  if (table == nullptr) return false;
  Pages().ansi.store(table);
  return true;
}

void FailMultiByteToWideCharAt(long n, DWORD lastError) {
  Pages().failDecodeError.store(lastError);
  Pages().failDecode.Arm(n);
}

namespace internal {

void ResetCodePageControls() {
  Pages().ansi.store(TableFor(kDefaultAnsiCodePage));
  Pages().failDecode.Arm(0);
}

std::u16string AnsiToWide(std::string_view text) {
  std::u16string result;
  DecodeTable(AnsiTable(), reinterpret_cast<const unsigned char*>(text.data()),
              text.size(), /*strict=*/false, &result);
  return result;
}

std::string WideToAnsi(std::u16string_view text) {
  std::string result;
  bool usedDefault = false;
  const CodePageTable& table = AnsiTable();
  EncodeTable(table, text.data(), text.size(), DefaultBytes(table, nullptr),
              &usedDefault, &result);
  return result;
}

bool AnsiToWideExact(std::string_view text, std::u16string* wide) {
  wide->clear();
  return DecodeTable(AnsiTable(),
                     reinterpret_cast<const unsigned char*>(text.data()),
                     text.size(), /*strict=*/true, wide);
}

bool WideToAnsiExact(std::u16string_view text, std::string* ansi) {
  ansi->clear();
  bool usedDefault = false;
  const CodePageTable& table = AnsiTable();
  EncodeTable(table, text.data(), text.size(), DefaultBytes(table, nullptr),
              &usedDefault, ansi);
  return !usedDefault;
}

std::u16string Utf8ToWide(std::string_view text, bool* valid) {
  std::u16string result;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  bool clean = DecodeUtf8(bytes, text.size(), /*strict=*/true, &result);
  if (!clean) {
    result.clear();
    DecodeUtf8(bytes, text.size(), /*strict=*/false, &result);
  }
  if (valid != nullptr) *valid = clean;
  return result;
}

std::string WideToUtf8(std::u16string_view text) {
  std::string result;
  EncodeUtf8(text.data(), text.size(), /*strict=*/false, &result);
  return result;
}

}  // namespace internal
}  // namespace qxplatform
