// Decoding the terminal's bytes: UTF-8 by the platform's own strict
// decoder, any other encoding through iconv; the encoding is looked up in a
// locale object of its own, so the process's locale (which the script
// engine and the C library's formatting depend on) stays "C".
#include "tools/qxhost/text/argument_text.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <stdlib.h>
#include <windows.h>

#include <cerrno>
#include <string_view>

#include "tools/qxhost/text/engine_text.h"

namespace qxhost {
namespace {

constexpr char kAsciiEncoding[] = "ANSI_X3.4-1968";  // the C locale's

const char* LocaleName() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = getenv(variable);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return "C";
}

// The encoding of the locale the environment names. A locale that is not
// installed still says its encoding in its name ("ja_JP.UTF-8",
// "de_DE.ISO-8859-1@euro"), and the terminal uses that encoding whether or
// not this system has the locale's other data.
std::string TerminalEncoding() {
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale != static_cast<locale_t>(0)) {
    std::string encoding = nl_langinfo_l(CODESET, locale);
    freelocale(locale);
    return encoding;
  }
  std::string_view name = LocaleName();
  size_t dot = name.find('.');
  if (dot == std::string_view::npos) return kAsciiEncoding;
  std::string_view encoding = name.substr(dot + 1);
  encoding = encoding.substr(0, encoding.find('@'));
  return encoding.empty() ? kAsciiEncoding : std::string(encoding);
}

bool IsUtf8(const std::string& encoding) {
  std::string folded;
  for (char c : encoding) {
    if (c == '-' || c == '_') continue;
    folded.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a')
                                          : c);
  }
  return folded == "utf8";
}

const std::string& Encoding() {
  static const std::string encoding = TerminalEncoding();
  return encoding;
}

bool DecodeUtf8(const std::string& word, std::u16string* text) {
  if (word.empty()) return true;
  const int size = static_cast<int>(word.size());
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, word.data(),
                                  size, /*lpWideCharStr=*/nullptr, 0);
  if (units <= 0) return false;
  text->assign(static_cast<size_t>(units), u'\0');
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, word.data(), size,
                             &(*text)[0], units) == units;
}

bool IsAscii(const std::string& word) {
  for (char c : word) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Any other encoding iconv knows; one it does not know is taken for ASCII,
// as the C locale's is.
bool DecodeWithIconv(const std::string& word, std::u16string* text) {
  iconv_t converter = iconv_open("UTF-16LE", Encoding().c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    if (!IsAscii(word)) return false;
    text->assign(word.begin(), word.end());
    return true;
  }
  // Room for more than any encoding makes of a byte; text that would need
  // more is not taken for text.
  std::string out(word.size() * 8 + 16, '\0');
  std::string in = word;
  char* inPointer = &in[0];
  size_t inLeft = in.size();
  char* outPointer = &out[0];
  size_t outLeft = out.size();
  bool ok = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) !=
                static_cast<size_t>(-1) &&
            inLeft == 0;
  // Shift states end with the text.
  ok = ok && iconv(converter, nullptr, nullptr, &outPointer, &outLeft) !=
                 static_cast<size_t>(-1);
  iconv_close(converter);
  if (!ok) return false;
  const size_t bytes = out.size() - outLeft;
  text->resize(bytes / 2);
  for (size_t i = 0; i < text->size(); ++i)
    (*text)[i] =
        static_cast<char16_t>(static_cast<unsigned char>(out[2 * i]) |
                              static_cast<unsigned char>(out[2 * i + 1]) << 8);
  return true;
}

}  // namespace

bool ArgumentToWide(const std::string& word, std::u16string* text) {
  text->clear();
  if (IsAscii(word)) {
    text->assign(word.begin(), word.end());
    return true;
  }
  return IsUtf8(Encoding()) ? DecodeUtf8(word, text)
                            : DecodeWithIconv(word, text);
}

bool ArgumentToAnsi(const std::string& word, std::string* ansi) {
  std::u16string text;
  if (!ArgumentToWide(word, &text)) {
    *ansi = word;
    return true;
  }
  ansi->clear();
  if (text.empty()) return true;
  const int units = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(),
                                 units, /*lpMultiByteStr=*/nullptr, 0,
                                 /*lpDefaultChar=*/nullptr, &usedDefault);
  if (size <= 0 || usedDefault) return false;
  ansi->assign(static_cast<size_t>(size), '\0');
  return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), units,
                             &(*ansi)[0], size, /*lpDefaultChar=*/nullptr,
                             &usedDefault) == size &&
         !usedDefault;
}

std::string NoAnsiForm(const std::string& word) {
  return "'" + word + "' holds characters that code page " +
         std::to_string(GetACP()) + " lacks (--acp chooses the code page)";
}

std::string ArgumentToUtf8(const std::string& word) {
  std::u16string text;
  if (IsAscii(word) || !ArgumentToWide(word, &text)) return word;
  std::string utf8;
  if (text.empty() || !AppendUtf16AsUtf8(text.data(), text.size(), &utf8))
    return word;
  return utf8;
}

}  // namespace qxhost
