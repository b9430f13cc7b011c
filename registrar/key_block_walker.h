// The meaning of a block of script entries: in register mode it opens or
// creates each key it names and writes its values; in unregister mode it
// removes what registration put there, leaving keys that still hold
// something the script does not name.
#pragma once
#include <windows.h>

#include "registrar/script_text.h"

class ScriptParser;

// Called when the token just read is the "{" that opens a block under
// parent (a predefined root key or a key of the enclosing block, never
// closed here). Consumes the block up to and including its closing "}",
// which token holds on return. absent (unregister mode) means the key the
// block belongs to does not exist, so nothing under it is touched.
HRESULT WalkKeyBlock(ScriptParser& parser, char (&token)[kTokenBufferSize],
                     HKEY parent, BOOL doRegister, BOOL absent);

// The roll-back of a root block whose registration failed: the block walked
// again in unregister mode, whatever it holds, with its status ignored.
// A stray block, or one nested beyond the walk's depth limit, is read
// without effect, so the keys the registration created above the failure
// are still taken back.
void RollBackKeyBlock(ScriptParser& parser, char (&token)[kTokenBufferSize],
                      HKEY parent);
