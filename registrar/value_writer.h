// Writing one value clause ("= type value") to a registry key: text as
// REG_SZ, a number as REG_DWORD, hexadecimal digits as REG_BINARY.
#pragma once
#include <windows.h>

#include "registrar/script_text.h"

class ScriptParser;
struct ChangeRecorder;

// Entered with the "=" token in token: reads the type letter and the value,
// sets the value named valueName (null: the default value) on key, whose
// path is changes.path, recording what it held, and reads the token behind
// the value into token. A value the registry refuses does not fail, but a
// registry that fails (IsRegistryFailure) fails the call with
// HRESULT_FROM_WIN32 of its status, with nothing written; an
// unknown type letter gives DISP_E_EXCEPTION and an odd number of
// hexadecimal digits E_FAIL, with nothing written; E_OUTOFMEMORY when the
// record cannot be had, with nothing written either.
[[nodiscard]] HRESULT WriteValue(ScriptParser& parser, ChangeRecorder& changes,
                                 HKEY key, const char* valueName,
                                 char (&token)[kTokenBufferSize]);

// 0 to 15 for a hexadecimal digit of either case; 0 for any other byte.
BYTE HexDigitValue(char digit);
