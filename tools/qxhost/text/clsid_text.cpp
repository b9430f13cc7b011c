// Brace-enclosed class ids: parsed strictly, written as the system writes them.
#include "tools/qxhost/text/clsid_text.h"

#include "tools/qxhost/text/ascii_text.h"

namespace qxhost {
namespace {

// "{" 8 "-" 4 "-" 4 "-" 4 "-" 12 "}"
constexpr size_t kClsidTextLength = 38;
constexpr size_t kDashPositions[] = {9, 14, 19, 24};

bool IsDashPosition(size_t index) {
  for (size_t dash : kDashPositions) {
    if (index == dash) return true;
  }
  return false;
}

}  // namespace

bool ParseClsid(const std::string& text, CLSID* clsid) {
  if (text.size() != kClsidTextLength || text.front() != '{' ||
      text.back() != '}') {
    return false;
  }
  // The 32 hex digits in order, checking every separator on the way.
  uint8_t nibbles[32];
  size_t count = 0;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    if (IsDashPosition(i)) {
      if (text[i] != '-') return false;
      continue;
    }
    int value = HexDigitValue(text[i]);
    if (value < 0) return false;
    nibbles[count++] = static_cast<uint8_t>(value);
  }
  auto byteAt = [&nibbles](size_t index) {
    return static_cast<uint32_t>((nibbles[2 * index] << 4) |
                                 nibbles[2 * index + 1]);
  };
  CLSID result;
  result.Data1 =
      (byteAt(0) << 24) | (byteAt(1) << 16) | (byteAt(2) << 8) | byteAt(3);
  result.Data2 = static_cast<uint16_t>((byteAt(4) << 8) | byteAt(5));
  result.Data3 = static_cast<uint16_t>((byteAt(6) << 8) | byteAt(7));
  for (size_t i = 0; i < 8; ++i)
    result.Data4[i] = static_cast<uint8_t>(byteAt(8 + i));
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
