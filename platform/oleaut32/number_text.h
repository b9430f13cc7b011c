// Numbers as automation writes and reads them in text, for the English and
// invariant locales: "." before the decimals, "," between groups of digits,
// blanks around, a leading sign, an "E" exponent, and VB's "&H"/"&O"
// literals; written back with up to 15 (R8) or 7 (R4) significant digits.
#pragma once
#include <oaidl.h>
#include <stdint.h>

#include <string>

namespace qxplatform {
namespace internal {

// A number read from text, exactly: digits × 10^exponent, or a prefixed
// literal's bits.
struct TextNumber {
  bool negative = false;
  bool prefixed = false;  // "&H" or "&O": the value is in bits
  uint64_t bits = 0;
  std::string digits;  // significant digits, without leading zeros
  int32_t exponent = 0;
  // Nonzero digits beyond those kept, below the last one kept.
  bool inexact = false;
};

// S_OK, or DISP_E_TYPEMISMATCH for text that is not a number (or
// DISP_E_OVERFLOW for a prefixed literal wider than 64 bits).
HRESULT ParseNumber(const OLECHAR* text, size_t length, TextNumber* number);

// The value rounded half to even to an integer, as a magnitude and sign;
// DISP_E_OVERFLOW when its magnitude exceeds 64 bits. A prefixed literal
// gives its bits as they are.
HRESULT RoundToInteger(const TextNumber& number, bool* negative,
                       uint64_t* magnitude);

// The nearest double; DISP_E_OVERFLOW when it is out of range.
HRESULT ToDouble(const TextNumber& number, double* value);

// "True"/"False" in any case, between blanks.
bool ParseBoolWord(const OLECHAR* text, size_t length, bool* value);

std::u16string FormatInteger(bool negative, uint64_t magnitude);
// significantDigits: 15 for R8, 7 for R4.
std::u16string FormatReal(double value, int significantDigits);

}  // namespace internal
}  // namespace qxplatform
