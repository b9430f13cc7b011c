// Brace-enclosed class ids: parsed strictly, written as the system writes them.
#include "tools/qxhost/text/clsid_text.h"

#include <objbase.h>

namespace qxhost {
namespace {

// "{" 8 "-" 4 "-" 4 "-" 4 "-" 12 "}"
constexpr size_t kClsidTextLength = 38;

}  // namespace

// The system reads the form strictly; text that starts with a brace is never
// taken for a ProgID, so no registry lookup can answer for it.
bool ParseClsid(const std::string& text, CLSID* clsid) {
  if (text.size() != kClsidTextLength || text.front() != '{') return false;
  OLECHAR wide[kClsidTextLength + 1] = {};
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == 0 || c >= 0x80) return false;
    wide[i] = c;
  }
  CLSID result;
  if (CLSIDFromString(wide, &result) != S_OK) return false;
  *clsid = result;
  return true;
}

std::string GuidText(REFGUID guid) {
  // The system's own spelling, which is plain ASCII.
  OLECHAR wide[kClsidTextLength + 1] = {};
  if (StringFromGUID2(guid, wide, kClsidTextLength + 1) == 0)
    return std::string();
  return std::string(wide, wide + kClsidTextLength);
}

}  // namespace qxhost
