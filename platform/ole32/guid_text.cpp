// GUIDs as text: the braced 8-4-4-4-12 form that StringFromGUID2 writes and
// CLSIDFromString reads back (prog_id.cpp, which also takes a ProgID there).
// Only that exact form is read as a GUID: a brace string with a trailing
// character included is not one.
#include <stdio.h>

#include "ascii_text.h"
#include "ole32_internal.h"

namespace {

// "{" 8 "-" 4 "-" 4 "-" 4 "-" 12 "}"
constexpr int kGuidTextLength = 38;
constexpr int kDashPositions[] = {9, 14, 19, 24};

bool IsDashPosition(int index) {
  for (int dash : kDashPositions) {
    if (index == dash) return true;
  }
  return false;
}

// Reads exactly the canonical form; stops at the first unit that breaks it,
// so a short string is never read past its terminator.
bool ParseGuid(LPCOLESTR text, GUID* guid) {
  if (text[0] != u'{') return false;
  uint8_t bytes[16] = {};
  int digit = 0;
  for (int i = 1; i < kGuidTextLength - 1; ++i) {
    if (IsDashPosition(i)) {
      if (text[i] != u'-') return false;
      continue;
    }
    int value = qxplatform::internal::HexDigitValue(text[i]);
    if (value < 0) return false;
    bytes[digit / 2] = static_cast<uint8_t>(bytes[digit / 2] << 4 | value);
    ++digit;
  }
  if (text[kGuidTextLength - 1] != u'}' || text[kGuidTextLength] != 0)
    return false;
  guid->Data1 = static_cast<uint32_t>(bytes[0]) << 24 | bytes[1] << 16 |
                bytes[2] << 8 | bytes[3];
  guid->Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  guid->Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = bytes[8 + i];
  return true;
}

}  // namespace

namespace qxplatform {
namespace internal {

bool ParseGuidText(LPCOLESTR text, GUID* guid) {
  return text != nullptr && ParseGuid(text, guid);
}

std::string GuidText(const GUID& guid) {
  char text[kGuidTextLength + 1];
  snprintf(text, sizeof(text),
           "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
           static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3,
           guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
           guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

}  // namespace internal
}  // namespace qxplatform

// The count written, terminator included; 0 when the buffer cannot hold it.
int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (lpsz == nullptr || cchMax < kGuidTextLength + 1) return 0;
  std::string text = qxplatform::internal::GuidText(rguid);
  for (int i = 0; i < kGuidTextLength; ++i)
    lpsz[i] = static_cast<OLECHAR>(text[i]);
  lpsz[kGuidTextLength] = 0;
  return kGuidTextLength + 1;
}
