// The process environment as kernel32 offers it: ExpandEnvironmentStringsA.
// The environment is the system's own; its values are text in UTF-8 (a
// value that is not UTF-8 is taken as the bytes it is) and are handed out in
// the ANSI code page, as every A function answers. Windows matches a
// variable's name without regard to case, so a name not set exactly as
// written is looked for again that way.
#include <string.h>
#include <windows.h>

#include <string>

#include "ascii_text.h"
#include "platform_internal.h"

extern char** environ;

namespace {

using qxplatform::internal::EqualIgnoringAsciiCase;

// The value of the variable, in ANSI; false when it is not set.
bool VariableValue(const std::string& name, std::string* value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  const char* found = getenv(name.c_str());
  if (found == nullptr && environ != nullptr) {
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const char* equals = strchr(*entry, '=');
      if (equals == nullptr || equals == *entry) continue;
      if (EqualIgnoringAsciiCase(
              std::string(*entry, static_cast<size_t>(equals - *entry)),
              name)) {
        found = equals + 1;
        break;
      }
    }
  }
  if (found == nullptr) return false;
  bool valid = false;
  std::u16string text = qxplatform::internal::Utf8ToWide(found, &valid);
  *value = valid ? qxplatform::internal::WideToAnsi(text) : std::string(found);
  return true;
}

// Each %NAME% whose variable is set becomes its value; one that is not set,
// and a lone %, stay as they are written.
std::string Expand(const std::string& text) {
  std::string result;
  size_t position = 0;
  while (position < text.size()) {
    size_t open = text.find('%', position);
    size_t close = open == std::string::npos ? open : text.find('%', open + 1);
    if (close == std::string::npos) break;
    result.append(text, position, open - position);
    std::string value;
    if (VariableValue(text.substr(open + 1, close - open - 1), &value)) {
      result += value;
      position = close + 1;
    } else {
      // The closing % may open the next name ("%unset%SET%").
      result.append(text, open, close - open);
      position = close;
    }
  }
  result.append(text, position, std::string::npos);
  return result;
}

}  // namespace

// The size the expansion needs, terminator included, in characters; when
// that is more than nSize nothing is written. 0 with ERROR_INVALID_PARAMETER
// when there is no source, or a destination size without a destination.
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst,
                                       DWORD nSize) {
  if (lpSrc == nullptr || (lpDst == nullptr && nSize != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string expanded = Expand(lpSrc);
  const size_t needed = expanded.size() + 1;
  if (needed > 0xFFFFFFFFu) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (needed <= nSize) memcpy(lpDst, expanded.c_str(), needed);
  return static_cast<DWORD>(needed);
}
