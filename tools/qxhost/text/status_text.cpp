// A status as eight hex digits, the form the system's own tools print.
#include "tools/qxhost/text/status_text.h"

#include <cstdio>

namespace qxhost {

std::string StatusText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

}  // namespace qxhost
