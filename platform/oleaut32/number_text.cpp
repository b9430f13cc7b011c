// Text to number and back for the automation conversions. Digits are kept
// as text until the target is known, so that integer targets round exactly
// and double targets get the nearest value from the library's parser.
#include "number_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "ascii_text.h"

namespace qxplatform {
namespace internal {
namespace {

// More significant digits than any target can tell apart; the rest only
// decide rounding.
constexpr size_t kKeptDigits = 40;
// Exponents beyond this overflow or vanish for every target.
constexpr int32_t kExponentLimit = 100000;

bool IsBlank(OLECHAR c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0x0B ||
         c == 0x0C;
}

bool IsDigit(OLECHAR c) { return c >= u'0' && c <= u'9'; }

int DigitValue(OLECHAR c, int radix) {
  const int value = qxplatform::internal::HexDigitValue(c);
  return value < radix ? value : -1;
}

// Cursor over a counted text.
struct Cursor {
  const OLECHAR* p;
  const OLECHAR* end;
  OLECHAR Peek() const { return p < end ? *p : 0; }
  bool AtEnd() const { return p >= end; }
  void SkipBlanks() {
    while (p < end && IsBlank(*p)) ++p;
  }
};

HRESULT ParsePrefixed(Cursor* at, TextNumber* number) {
  ++at->p;  // the "&"
  OLECHAR kind = at->Peek();
  int radix = (kind == u'H' || kind == u'h')   ? 16
              : (kind == u'O' || kind == u'o') ? 8
                                               : 0;
  if (radix == 0) return DISP_E_TYPEMISMATCH;
  ++at->p;
  if (DigitValue(at->Peek(), radix) < 0) return DISP_E_TYPEMISMATCH;
  bool tooWide = false;
  for (; DigitValue(at->Peek(), radix) >= 0; ++at->p) {
    uint64_t digit = static_cast<uint64_t>(DigitValue(at->Peek(), radix));
    if (number->bits > (UINT64_MAX - digit) / radix) tooWide = true;
    number->bits = number->bits * radix + digit;
  }
  at->SkipBlanks();
  if (!at->AtEnd()) return DISP_E_TYPEMISMATCH;
  number->prefixed = true;
  return tooWide ? DISP_E_OVERFLOW : S_OK;
}

void AddDigit(OLECHAR c, bool fraction, TextNumber* number) {
  if (number->digits.empty() && c == u'0') {
    if (fraction) --number->exponent;  // a leading zero after the point
    return;
  }
  if (number->digits.size() < kKeptDigits) {
    number->digits.push_back(static_cast<char>(c));
    if (fraction) --number->exponent;
    return;
  }
  if (!fraction) ++number->exponent;  // an integer digit past those kept
  if (c != u'0') number->inexact = true;
}

}  // namespace

HRESULT ParseNumber(const OLECHAR* text, size_t length, TextNumber* number) {
  *number = TextNumber();
  Cursor at{text, text + length};
  at.SkipBlanks();
  if (at.Peek() == u'&') return ParsePrefixed(&at, number);
  if (at.Peek() == u'+' || at.Peek() == u'-') {
    number->negative = at.Peek() == u'-';
    ++at.p;
  }
  bool sawDigit = false;
  for (; IsDigit(at.Peek()) || (at.Peek() == u',' && sawDigit); ++at.p) {
    if (at.Peek() == u',') continue;  // grouping is skipped, not checked
    AddDigit(at.Peek(), /*fraction=*/false, number);
    sawDigit = true;
  }
  if (at.Peek() == u'.') {
    for (++at.p; IsDigit(at.Peek()); ++at.p) {
      AddDigit(at.Peek(), /*fraction=*/true, number);
      sawDigit = true;
    }
  }
  if (!sawDigit) return DISP_E_TYPEMISMATCH;
  if (at.Peek() == u'E' || at.Peek() == u'e') {
    ++at.p;
    bool negativeExponent = false;
    if (at.Peek() == u'+' || at.Peek() == u'-') {
      negativeExponent = at.Peek() == u'-';
      ++at.p;
    }
    if (!IsDigit(at.Peek())) return DISP_E_TYPEMISMATCH;
    int32_t exponent = 0;
    for (; IsDigit(at.Peek()); ++at.p) {
      if (exponent < kExponentLimit) exponent = exponent * 10 + (*at.p - u'0');
    }
    number->exponent += negativeExponent ? -exponent : exponent;
  }
  at.SkipBlanks();
  if (!at.AtEnd()) return DISP_E_TYPEMISMATCH;
  if (number->digits.empty()) {
    number->exponent = 0;
    number->negative = false;
  }
  return S_OK;
}

HRESULT RoundToInteger(const TextNumber& number, bool* negative,
                       uint64_t* magnitude) {
  *negative = number.negative;
  if (number.prefixed) {
    *magnitude = number.bits;
    return S_OK;
  }
  const int64_t digitCount = static_cast<int64_t>(number.digits.size());
  const int64_t integerDigits = digitCount + number.exponent;
  if (integerDigits > 20) return DISP_E_OVERFLOW;
  uint64_t value = 0;
  for (int64_t i = 0; i < integerDigits; ++i) {
    uint64_t digit = i < digitCount ? number.digits[i] - '0' : 0;
    if (value > (UINT64_MAX - digit) / 10) return DISP_E_OVERFLOW;
    value = value * 10 + digit;
  }
  // The fraction: its first digit and whether anything follows it.
  int first = 0;
  bool rest = number.inexact;
  for (int64_t i = integerDigits < 0 ? 0 : integerDigits; i < digitCount; ++i) {
    if (i == integerDigits)
      first = number.digits[i] - '0';
    else if (number.digits[i] != '0')
      rest = true;
  }
  if (integerDigits < 0 && digitCount > 0) rest = true;  // below one tenth
  bool up = first > 5 || (first == 5 && (rest || (value & 1) != 0));
  if (up) {
    if (value == UINT64_MAX) return DISP_E_OVERFLOW;
    ++value;
  }
  *magnitude = value;
  if (value == 0) *negative = false;
  return S_OK;
}

HRESULT ToDouble(const TextNumber& number, double* value) {
  if (number.prefixed) {
    *value = static_cast<double>(number.bits);
    return S_OK;
  }
  if (number.digits.empty()) {
    *value = 0.0;
    return S_OK;
  }
  // A nonzero digit beyond those kept nudges halfway cases the right way.
  std::string text = number.digits;
  int32_t exponent = number.exponent;
  if (number.inexact) {
    text.push_back('1');
    --exponent;
  }
  text += "e" + std::to_string(exponent);
  double parsed = 0.0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (result.ec == std::errc::result_out_of_range) {
    // Too small is zero; too large does not fit.
    if (exponent < 0) {
      parsed = 0.0;
    } else {
      return DISP_E_OVERFLOW;
    }
  } else if (result.ec != std::errc() || std::isinf(parsed)) {
    return DISP_E_OVERFLOW;
  }
  *value = number.negative ? -parsed : parsed;
  return S_OK;
}

bool ParseBoolWord(const OLECHAR* text, size_t length, bool* value) {
  Cursor at{text, text + length};
  at.SkipBlanks();
  const OLECHAR* start = at.p;
  while (!at.AtEnd() && !IsBlank(at.Peek())) ++at.p;
  std::string word;
  for (const OLECHAR* c = start; c < at.p; ++c) {
    if (*c > 0x7F) return false;
    char letter = static_cast<char>(*c);
    word.push_back(qxplatform::internal::AsciiLower(letter));
  }
  at.SkipBlanks();
  if (!at.AtEnd()) return false;
  if (word == "true") {
    *value = true;
    return true;
  }
  if (word == "false") {
    *value = false;
    return true;
  }
  return false;
}

std::u16string FormatInteger(bool negative, uint64_t magnitude) {
  std::u16string text;
  do {
    text.insert(text.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative && text != u"0") text.insert(text.begin(), u'-');
  return text;
}

std::u16string FormatReal(double value, int significantDigits) {
  // The spellings of the system's C runtime, which the runtime's own
  // formatting shows for values that are not numbers.
  if (std::isnan(value)) return u"-1.#IND";
  if (std::isinf(value)) return value < 0 ? u"-1.#INF" : u"1.#INF";
  if (value == 0.0) return u"0";  // negative zero too
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value,
                              std::chars_format::general, significantDigits);
  std::u16string text;
  for (char* c = buffer; c < result.ptr; ++c)
    text.push_back(*c == 'e' ? u'E' : static_cast<char16_t>(*c));
  return text;
}

}  // namespace internal
}  // namespace qxplatform
