// The meaning of a block of script entries: in register mode it opens or
// creates each key it names and writes its values, recording each change
// so that it can be taken back; in unregister mode it removes what
// registration put there, leaving keys that still hold something the script
// does not name.
#pragma once
#include <windows.h>

#include "registrar/script_text.h"

class ScriptParser;
struct ChangeRecorder;

// Called when the token just read is the "{" that opens a block under
// parent (a predefined root key or a key of the enclosing block, never
// closed here). Consumes the block up to and including its closing "}",
// which token holds on return. absent (unregister mode) means the key the
// block belongs to does not exist, so nothing under it is touched. In
// register mode changes says where each change is recorded (its path
// stands at parent's); unregister mode records nothing and takes null.
// On failure what register mode changed stays recorded for the caller to
// take back. A registry that fails (IsRegistryFailure) fails the walk with
// HRESULT_FROM_WIN32 of its status in either mode; unregister mode leaves
// what it had not removed yet.
[[nodiscard]] HRESULT WalkKeyBlock(ScriptParser& parser,
                                   char (&token)[kTokenBufferSize], HKEY parent,
                                   BOOL doRegister, BOOL absent,
                                   ChangeRecorder* changes);
