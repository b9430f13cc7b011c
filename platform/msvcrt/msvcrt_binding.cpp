// The C runtime functions and data that mingw's start-up code in a Windows
// image imports from msvcrt.dll, bound to the C library, with msvcrt's
// behaviour where the two differ: its FILE records and its numbered
// runtime locks, its start-up helpers, and its printf conventions.
//
// This is exactly the set such images need. Anything else an image imports
// from msvcrt stays unbound and fails its load, rather than reaching a
// function that only looks like the one it asked for.
#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <windows.h>

#include <cmath>
#include <mutex>
#include <string>

#include "pe_exports.h"

namespace qxplatform {
namespace msvcrt {

// ---- FILE records -----------------------------------------------------------
// msvcrt's FILE, which images index into directly (stdout is &_iob[1]).
struct IobRecord {
  char* _ptr;
  int _cnt;
  char* _base;
  int _flag;
  int _file;
  int _charbuf;
  int _bufsiz;
  char* _tmpfname;
};
#if defined(__i386__)
static_assert(sizeof(IobRecord) == 32, "msvcrt's FILE is 32 bytes");
#endif

constexpr int kIobEntries = 20;  // msvcrt's _IOB_ENTRIES
constexpr int kIoRead = 0x0001;
constexpr int kIoWrite = 0x0002;

constexpr IobRecord StandardStream(int descriptor, int flags) {
  return IobRecord{nullptr, 0, nullptr, flags, descriptor, 0, 0, nullptr};
}

// Writable, as msvcrt's is: the records are the image's to look at.
IobRecord _iob[kIobEntries] = {
    StandardStream(0, kIoRead),
    StandardStream(1, kIoWrite),
    StandardStream(2, kIoWrite),
};

namespace {

// The C library's stream behind one of msvcrt's standard records; null for
// any other pointer, since no other stream was ever opened through here.
FILE* HostStream(const void* stream) {
  if (stream == &_iob[0]) return stdin;
  if (stream == &_iob[1]) return stdout;
  if (stream == &_iob[2]) return stderr;
  return nullptr;
}

// ---- printf conventions -----------------------------------------------------
// msvcrt's printf differs from the C library's in its size prefixes (I64, I32,
// I, w; L is a plain double), in %S and %C (the other width's string and
// character: wide in a narrow printf), in %p (upper-case hexadecimal of the
// pointer's full width, no 0x), in exponents of at least three digits, and in
// padding strings and characters with zeros under the 0 flag. Wide text is
// narrowed as in its default "C" locale: units up to 0xFF stand for themselves,
// any other fails the call with EILSEQ. %n is refused, as the runtime's secure
// default does; so is any conversion msvcrt does not know. Infinities and NaNs
// print as the C library prints them.

enum class Size {
  kDefault,
  kShort,       // h
  kLong,        // l: 32 bits, or wide with c and s
  kInt32,       // I32
  kLongLong,    // ll, I64
  kPointer,     // I
  kWide,        // w
  kLongDouble,  // L
};

struct Conversion {
  bool leftJustify = false;
  bool zeroPad = false;
  std::string signFlags;  // any of "+ #" as given
  int width = 0;
  int precision = -1;  // -1: none
  Size size = Size::kDefault;
  char type = 0;
};

void Pad(std::string* out, std::string text, const Conversion& conversion,
         bool zeroPadAllowed) {
  size_t width =
      conversion.width > 0 ? static_cast<size_t>(conversion.width) : 0;
  if (text.size() >= width) {
    out->append(text);
    return;
  }
  size_t fill = width - text.size();
  if (conversion.leftJustify) {
    out->append(text);
    out->append(fill, ' ');
  } else if (conversion.zeroPad && zeroPadAllowed) {
    // Zeros go after a sign or a hexadecimal prefix.
    size_t at = 0;
    if (!text.empty() && (text[0] == '-' || text[0] == '+' || text[0] == ' '))
      at = 1;
    if (text.size() >= at + 2 && text[at] == '0' &&
        (text[at + 1] == 'x' || text[at + 1] == 'X'))
      at += 2;
    text.insert(at, fill, '0');
    out->append(text);
  } else {
    out->append(fill, ' ');
    out->append(text);
  }
}

// A number formatted by the C library without width; the caller pads.
template <class Value>
std::string FormatNumber(const Conversion& conversion, const char* length,
                         char type, Value value) {
  std::string pattern = "%" + conversion.signFlags;
  if (conversion.precision >= 0)
    pattern += "." + std::to_string(conversion.precision);
  pattern += length;
  pattern += type;
  char buffer[512];
  int written = snprintf(buffer, sizeof(buffer), pattern.c_str(), value);
  if (written < 0) return std::string();
  if (static_cast<size_t>(written) < sizeof(buffer))
    return std::string(buffer, written);
  std::string large(static_cast<size_t>(written) + 1, '\0');
  snprintf(&large[0], large.size(), pattern.c_str(), value);
  large.resize(static_cast<size_t>(written));
  return large;
}

// msvcrt writes an exponent with at least three digits.
void WidenExponent(std::string* text) {
  size_t e = text->find_first_of("eE");
  if (e == std::string::npos || e + 1 >= text->size()) return;
  size_t digits = e + 2;  // after the sign
  if (text->size() - digits == 2) text->insert(digits, 1, '0');
}

// Narrows one UTF-16 unit as msvcrt's "C" locale does.
bool NarrowUnit(uint32_t unit, std::string* out) {
  if (unit > 0xFF) {
    errno = EILSEQ;
    return false;
  }
  out->push_back(static_cast<char>(unit));
  return true;
}

bool FormatString(const Conversion& conversion, bool wide, va_list* args,
                  std::string* out) {
  std::string text;
  size_t limit = conversion.precision >= 0
                     ? static_cast<size_t>(conversion.precision)
                     : SIZE_MAX;
  if (wide) {
    const char16_t* units = va_arg(*args, const char16_t*);
    if (units == nullptr) {
      text = "(null)";
      if (text.size() > limit) text.resize(limit);
    } else {
      for (size_t i = 0; units[i] != 0 && text.size() < limit; ++i) {
        if (!NarrowUnit(units[i], &text)) return false;
      }
    }
  } else {
    const char* bytes = va_arg(*args, const char*);
    if (bytes == nullptr) bytes = "(null)";
    text.assign(bytes, strnlen(bytes, limit));
  }
  Pad(out, std::move(text), conversion, true);
  return true;
}

bool FormatCharacter(const Conversion& conversion, bool wide, va_list* args,
                     std::string* out) {
  int value = va_arg(*args, int);
  std::string text;
  if (wide) {
    if (!NarrowUnit(static_cast<uint16_t>(value), &text)) return false;
  } else {
    text.push_back(static_cast<char>(value));
  }
  Pad(out, std::move(text), conversion, true);
  return true;
}

bool FormatInteger(const Conversion& conversion, va_list* args,
                   std::string* out) {
  bool isSigned = conversion.type == 'd' || conversion.type == 'i';
  bool sixtyFour = conversion.size == Size::kLongLong ||
                   (conversion.size == Size::kPointer && sizeof(void*) == 8);
  char type = conversion.type == 'i' ? 'd' : conversion.type;
  std::string text;
  if (sixtyFour) {
    if (isSigned) {
      text = FormatNumber(conversion, "ll", type, va_arg(*args, long long));
    } else {
      text = FormatNumber(conversion, "ll", type,
                          va_arg(*args, unsigned long long));
    }
  } else {
    // int, long and the 32-bit sizes are all 32 bits on Windows.
    uint32_t bits = va_arg(*args, uint32_t);
    if (conversion.size == Size::kShort) bits &= 0xFFFF;
    if (isSigned) {
      int32_t value = conversion.size == Size::kShort
                          ? static_cast<int16_t>(bits)
                          : static_cast<int32_t>(bits);
      text = FormatNumber(conversion, "", type, static_cast<int>(value));
    } else {
      text = FormatNumber(conversion, "", type, static_cast<unsigned>(bits));
    }
  }
  // With a precision the 0 flag is ignored, as in C.
  Pad(out, std::move(text), conversion, conversion.precision < 0);
  return true;
}

bool FormatFloating(const Conversion& conversion, va_list* args,
                    std::string* out) {
  double value = va_arg(*args, double);
  std::string text = FormatNumber(conversion, "", conversion.type, value);
  if (conversion.type != 'f') WidenExponent(&text);
  Pad(out, std::move(text), conversion, std::isfinite(value));
  return true;
}

bool FormatPointer(const Conversion& conversion, va_list* args,
                   std::string* out) {
  uintptr_t value = reinterpret_cast<uintptr_t>(va_arg(*args, void*));
  char buffer[2 + 2 * sizeof(void*) + 1];
  bool prefix = conversion.signFlags.find('#') != std::string::npos;
  snprintf(buffer, sizeof(buffer), "%s%0*llX", prefix ? "0X" : "",
           static_cast<int>(2 * sizeof(void*)),
           static_cast<unsigned long long>(value));
  Conversion padding = conversion;
  padding.zeroPad = false;
  Pad(out, buffer, padding, false);
  return true;
}

// A width or precision written as digits; false when it overflows an int.
bool ParseCount(const char** p, int* count) {
  int64_t value = 0;
  while (**p >= '0' && **p <= '9') {
    value = value * 10 + (*(*p)++ - '0');
    if (value > INT32_MAX) return false;
  }
  *count = static_cast<int>(value);
  return true;
}

// The flags, the width and the precision; a '*' takes its number from the
// arguments, where a negative width justifies left and a negative precision
// is none.
bool ParseFlagsWidthPrecision(const char** format, va_list* args,
                              Conversion* conversion) {
  const char*& p = *format;
  for (;; ++p) {
    if (*p == '-') {
      conversion->leftJustify = true;
    } else if (*p == '0') {
      conversion->zeroPad = true;
    } else if (*p == '+' || *p == ' ' || *p == '#') {
      conversion->signFlags.push_back(*p);
    } else {
      break;
    }
  }
  if (*p == '*') {
    int width = va_arg(*args, int);
    if (width < 0) {
      conversion->leftJustify = true;
      width = width == INT32_MIN ? INT32_MAX : -width;
    }
    conversion->width = width;
    ++p;
  } else if (!ParseCount(&p, &conversion->width)) {
    return false;
  }
  if (*p != '.') return true;
  ++p;
  if (*p != '*') return ParseCount(&p, &conversion->precision);
  const int precision = va_arg(*args, int);
  conversion->precision = precision < 0 ? -1 : precision;
  ++p;
  return true;
}

// The size prefix msvcrt knows: I64, I32, I, ll, l, L, h or w.
Size ParseSize(const char** format) {
  struct Prefix {
    const char* text;
    Size size;
  };
  // Longer prefixes first, so that "I64" is not read as "I".
  static constexpr Prefix kPrefixes[] = {
      {"I64", Size::kLongLong}, {"I32", Size::kInt32}, {"I", Size::kPointer},
      {"ll", Size::kLongLong},  {"l", Size::kLong},    {"L", Size::kLongDouble},
      {"h", Size::kShort},      {"w", Size::kWide},
  };
  for (const Prefix& prefix : kPrefixes) {
    const size_t length = ::strlen(prefix.text);
    if (::strncmp(*format, prefix.text, length) == 0) {
      *format += length;
      return prefix.size;
    }
  }
  return Size::kDefault;
}

// Reads flags, width, precision and size of the conversion at *format (just
// past its '%'); false for what msvcrt does not know.
bool ParseConversion(const char** format, va_list* args,
                     Conversion* conversion) {
  const char* p = *format;
  if (!ParseFlagsWidthPrecision(&p, args, conversion)) return false;
  conversion->size = ParseSize(&p);
  conversion->type = *p;
  if (*p == '\0') return false;
  *format = p + 1;
  return true;
}

// One conversion's output; false with errno set when it is refused (a size
// its type does not take, %n, an unknown type) or its text cannot be made.
bool FormatConversion(const Conversion& conversion, va_list* args,
                      std::string* out) {
  const Size size = conversion.size;
  // A character or string takes h, l or w; an integer any size but w and
  // L; a floating point number only l or L, both a plain double.
  const bool charSize = size == Size::kDefault || size == Size::kShort ||
                        size == Size::kLong || size == Size::kWide;
  const bool integerSize = size != Size::kWide && size != Size::kLongDouble;
  const bool floatingSize = size == Size::kDefault || size == Size::kLong ||
                            size == Size::kLongDouble;
  // Upper case is the other width; h and l/w choose explicitly.
  const bool wide =
      size == Size::kLong || size == Size::kWide ||
      ((conversion.type == 'C' || conversion.type == 'S') &&
       size != Size::kShort);
  bool allowed = true;
  switch (conversion.type) {
    case '%':
      out->push_back('%');
      return true;
    case 'c':
    case 'C':
      allowed = charSize;
      if (allowed) return FormatCharacter(conversion, wide, args, out);
      break;
    case 's':
    case 'S':
      allowed = charSize;
      if (allowed) return FormatString(conversion, wide, args, out);
      break;
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
      allowed = integerSize;
      if (allowed) return FormatInteger(conversion, args, out);
      break;
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
      allowed = floatingSize;
      if (allowed) return FormatFloating(conversion, args, out);
      break;
    case 'p':
      allowed = size == Size::kDefault;
      if (allowed) return FormatPointer(conversion, args, out);
      break;
    default:  // %n among them
      allowed = false;
      break;
  }
  errno = EINVAL;
  return false;
}

// Formats into *out; false with errno set when the format is refused or wide
// text cannot be narrowed.
bool FormatMsvcrt(const char* format, va_list* args, std::string* out) {
  while (*format != '\0') {
    if (*format != '%') {
      const char* next = strchr(format, '%');
      size_t run = next == nullptr ? ::strlen(format)
                                   : static_cast<size_t>(next - format);
      out->append(format, run);
      format += run;
      continue;
    }
    ++format;
    Conversion conversion;
    if (!ParseConversion(&format, args, &conversion)) {
      errno = EINVAL;
      return false;
    }
    if (!FormatConversion(conversion, args, out)) return false;
  }
  return true;
}

// ---- runtime locks ----------------------------------------------------------
// msvcrt's lock table: 28 fixed locks, then one per FILE record. Each is
// recursive, as msvcrt's critical sections are.
constexpr int kLockCount = 28 + kIobEntries;
// R6017, "unexpected multithread lock error".
constexpr int kRuntimeErrorLock = 17;

std::recursive_mutex* RuntimeLocks() {
  static std::recursive_mutex* locks = new std::recursive_mutex[kLockCount];
  return locks;
}

}  // namespace

// ---- the functions ----------------------------------------------------------
// Each is a function of the platform rather than the C library's own, so that
// it realigns the stack for the C library whatever alignment the Windows caller
// left.

[[noreturn]] void _amsg_exit(int error) {
  // msvcrt reports the runtime error and ends the process without running
  // any exit handlers.
  fprintf(stderr, "\nruntime error R60%02d\n", error);
  fflush(stderr);
  _exit(255);
}

using InitializerFunction = void (*)(void);

void _initterm(InitializerFunction* begin, InitializerFunction* end) {
  for (InitializerFunction* entry = begin; entry < end; ++entry) {
    if (*entry != nullptr) (*entry)();
  }
}

void _lock(int number) {
  if (number < 0 || number >= kLockCount) _amsg_exit(kRuntimeErrorLock);
  RuntimeLocks()[number].lock();
}

void _unlock(int number) {
  if (number < 0 || number >= kLockCount) _amsg_exit(kRuntimeErrorLock);
  RuntimeLocks()[number].unlock();
}

void abort(void) { ::abort(); }

void* calloc(size_t count, size_t size) {
  // msvcrt refuses a product past the address space itself, with ENOMEM.
  if (count != 0 && size > SIZE_MAX / count) {
    errno = ENOMEM;
    return nullptr;
  }
  return ::calloc(count, size);
}

void free(void* block) { ::free(block); }

void* realloc(void* block, size_t size) { return ::realloc(block, size); }

size_t strlen(const char* text) { return ::strlen(text); }

int strncmp(const char* a, const char* b, size_t count) {
  return ::strncmp(a, b, count);
}

// The stream is only compared with the records, never followed.
size_t fwrite(const void* buffer, size_t size, size_t count, void* stream) {
  FILE* host = HostStream(stream);
  if (host == nullptr || (buffer == nullptr && size != 0 && count != 0)) {
    errno = EINVAL;
    return 0;
  }
  return ::fwrite(buffer, size, count, host);
}

int vfprintf(void* stream, const char* format, va_list args) {
  FILE* host = HostStream(stream);
  if (host == nullptr || format == nullptr) {
    errno = EINVAL;
    return -1;
  }
  std::string text;
  va_list copy;
  va_copy(copy, args);
  bool formatted = FormatMsvcrt(format, &copy, &text);
  va_end(copy);
  if (!formatted) return -1;
  if (::fwrite(text.data(), 1, text.size(), host) != text.size()) return -1;
  return static_cast<int>(text.size());
}

namespace {

const internal::SystemExport kEntries[] = {
    // start-up and termination
    QX_SYSTEM_EXPORT(_amsg_exit),
    QX_SYSTEM_EXPORT(_initterm),
    QX_SYSTEM_EXPORT(abort),
    // runtime locks
    QX_SYSTEM_EXPORT(_lock),
    QX_SYSTEM_EXPORT(_unlock),
    // memory
    QX_SYSTEM_EXPORT(calloc),
    QX_SYSTEM_EXPORT(free),
    QX_SYSTEM_EXPORT(realloc),
    // strings
    QX_SYSTEM_EXPORT(strlen),
    QX_SYSTEM_EXPORT(strncmp),
    // streams
    QX_SYSTEM_EXPORT(_iob),
    QX_SYSTEM_EXPORT(fwrite),
    QX_SYSTEM_EXPORT(vfprintf),
};

}  // namespace
}  // namespace msvcrt

namespace internal {
QX_SYSTEM_EXPORT_TABLE(kMsvcrtExports, "msvcrt", msvcrt::kEntries);
}  // namespace internal

}  // namespace qxplatform
