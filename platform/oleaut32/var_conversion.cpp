// Numbers from text for automation, as read in the user's default English
// locale: blanks around the number, a sign, "," between integer digits, a
// "." decimal part rounded half to even, and VB-style "&H" hex and "&O"
// octal literals.
#include <oleauto.h>

#include <stdint.h>

namespace {

constexpr uint64_t kLargestUI4 = 0xFFFFFFFFu;
// Past this the exact value no longer matters: it overflows anyway.
constexpr uint64_t kSaturated = kLargestUI4 + 2;

bool IsBlank(OLECHAR c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0x0B ||
         c == 0x0C;
}

bool IsDigit(OLECHAR c) { return c >= u'0' && c <= u'9'; }

int DigitValue(OLECHAR c, int radix) {
  int value = -1;
  if (c >= u'0' && c <= u'9')
    value = c - u'0';
  else if (c >= u'a' && c <= u'f')
    value = c - u'a' + 10;
  else if (c >= u'A' && c <= u'F')
    value = c - u'A' + 10;
  return value < radix ? value : -1;
}

uint64_t Accumulate(uint64_t value, int radix, int digit) {
  value = value * radix + digit;
  return value > kSaturated ? kSaturated : value;
}

enum class Parse { kNumber, kMismatch };

struct Number {
  bool negative = false;
  uint64_t magnitude = 0;  // saturated at kSaturated
};

// "&H..." or "&O..." after the blanks; text points at the "&".
Parse ParsePrefixed(const OLECHAR* text, Number* number) {
  int radix = 0;
  if (text[1] == u'H' || text[1] == u'h') radix = 16;
  if (text[1] == u'O' || text[1] == u'o') radix = 8;
  if (radix == 0) return Parse::kMismatch;
  const OLECHAR* p = text + 2;
  if (DigitValue(*p, radix) < 0) return Parse::kMismatch;
  for (; DigitValue(*p, radix) >= 0; ++p)
    number->magnitude =
        Accumulate(number->magnitude, radix, DigitValue(*p, radix));
  while (IsBlank(*p)) ++p;
  return *p == 0 ? Parse::kNumber : Parse::kMismatch;
}

Parse ParseDecimal(const OLECHAR* p, Number* number) {
  if (*p == u'+' || *p == u'-') {
    number->negative = *p == u'-';
    ++p;
  }
  bool sawDigit = false;
  uint64_t value = 0;
  for (; IsDigit(*p) || (*p == u',' && sawDigit); ++p) {
    if (*p == u',') continue;  // grouping is not checked, only skipped
    value = Accumulate(value, 10, *p - u'0');
    sawDigit = true;
  }
  // The fraction only decides the rounding: up above one half, to the even
  // neighbour at exactly one half.
  int firstFraction = -1;
  bool restNonZero = false;
  if (*p == u'.') {
    for (++p; IsDigit(*p); ++p) {
      if (firstFraction < 0)
        firstFraction = *p - u'0';
      else if (*p != u'0')
        restNonZero = true;
      sawDigit = true;
    }
  }
  while (IsBlank(*p)) ++p;
  if (!sawDigit || *p != 0) return Parse::kMismatch;
  bool roundUp = firstFraction > 5 ||
                 (firstFraction == 5 && (restNonZero || (value & 1) != 0));
  if (roundUp) value = Accumulate(value, 1, 1);
  number->magnitude = value;
  return Parse::kNumber;
}

}  // namespace

HRESULT WINAPI VarUI4FromStr(OLECHAR* strIn, LCID lcid, ULONG dwFlags,
                             ULONG* pulOut) {
  (void)lcid;
  (void)dwFlags;
  if (strIn == nullptr || pulOut == nullptr) return E_INVALIDARG;
  const OLECHAR* p = strIn;
  while (IsBlank(*p)) ++p;
  Number number;
  Parse parsed =
      *p == u'&' ? ParsePrefixed(p, &number) : ParseDecimal(p, &number);
  if (parsed != Parse::kNumber) return DISP_E_TYPEMISMATCH;
  if (number.magnitude > kLargestUI4 ||
      (number.negative && number.magnitude != 0))
    return DISP_E_OVERFLOW;
  *pulOut = static_cast<ULONG>(number.magnitude);
  return S_OK;
}
