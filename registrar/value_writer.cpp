// WriteValue: one value clause to the registry, through the undo log. Every
// buffer is fixed: a token holds at most kTokenBufferSize - 1 bytes, so its
// UTF-16 text and its bytes as binary data have bounded sizes too.
#include "registrar/value_writer.h"

#include <oleauto.h>

#include "base/result_macros.h"
#include "registrar/recorded_changes.h"
#include "registrar/script_parser.h"
#include "registrar/script_tables.h"

namespace {

constexpr size_t kMaxBinaryBytes = kTokenBufferSize / 2;

HRESULT WriteText(ChangeRecorder& changes, HKEY key, const char* valueName,
                  const char* value) {
  const DWORD bytes = static_cast<DWORD>(lstrlenA(value)) + 1;
  return SetValueRecorded(changes, key, valueName, REG_SZ,
                          reinterpret_cast<const BYTE*>(value), bytes);
}

// A number VarUI4FromStr does not accept is written as 0, so the stored
// value never depends on what the conversion left behind.
HRESULT WriteNumber(ChangeRecorder& changes, HKEY key, const char* valueName,
                    const char* value) {
  OLECHAR wide[kTokenBufferSize];
  DWORD number = 0;
  if (MultiByteToWideChar(CP_ACP, 0, value, -1, wide, kTokenBufferSize) > 0) {
    ULONG converted = 0;
    if (SUCCEEDED(VarUI4FromStr(wide, /*lcid=*/0, /*dwFlags=*/0, &converted))) {
      number = converted;
    }
  }
  return SetValueRecorded(changes, key, valueName, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&number),
                          sizeof(number));
}

HRESULT WriteBinary(ScriptParser& parser, ChangeRecorder& changes, HKEY key,
                    const char* valueName, const char* value) {
  const size_t digits = static_cast<size_t>(lstrlenA(value));
  if (digits % 2 != 0) {
    parser.Refuse(ScriptExpectation::kEvenHexDigits);
    return E_FAIL;  // what an odd count has always answered
  }
  BYTE bytes[kMaxBinaryBytes] = {};
  for (size_t i = 0; i < digits; ++i) {
    const int shift = i % 2 == 0 ? 4 : 0;
    bytes[i / 2] |= static_cast<BYTE>(HexDigitValue(value[i]) << shift);
  }
  return SetValueRecorded(changes, key, valueName, REG_BINARY, bytes,
                          static_cast<DWORD>(digits / 2));
}

}  // namespace

BYTE HexDigitValue(char digit) {
  if (digit >= '0' && digit <= '9') return static_cast<BYTE>(digit - '0');
  if (digit >= 'A' && digit <= 'F') return static_cast<BYTE>(digit - 'A' + 10);
  if (digit >= 'a' && digit <= 'f') return static_cast<BYTE>(digit - 'a' + 10);
  return 0;
}

HRESULT WriteValue(ScriptParser& parser, ChangeRecorder& changes, HKEY key,
                   const char* valueName, char (&token)[kTokenBufferSize]) {
  char typeLetter[kTokenBufferSize];
  RETURN_IF_FAILED(parser.ReadToken(typeLetter));
  VARTYPE variantType = VT_EMPTY;
  RETURN_REFUSED_IF(parser, kValueType,
                    !FindValueType(typeLetter, &variantType));

  parser.SkipBlanks();
  char value[kTokenBufferSize];
  RETURN_IF_FAILED(parser.ReadToken(value));

  switch (variantType) {
    case VT_BSTR:
      RETURN_IF_FAILED(WriteText(changes, key, valueName, value));
      break;
    case VT_UI4:
      RETURN_IF_FAILED(WriteNumber(changes, key, valueName, value));
      break;
    case VT_UI1:
      RETURN_IF_FAILED(WriteBinary(parser, changes, key, valueName, value));
      break;
    default:
      return DISP_E_EXCEPTION;
  }
  return parser.ReadToken(token);
}
