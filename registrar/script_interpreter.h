// Running a whole registry script: expand its variables once, then walk
// every root block in register or unregister mode.
#pragma once
#include <windows.h>

#include "base/allocator.h"
#include "base/registration_step.h"

class ScriptParser;
struct ScriptDiagnostic;

// Register mode writes what the script names, recording each change (the
// records come from allocator); a root block that fails has what it did
// taken back, newest first, and the failure is returned, while root blocks
// completed before it stay. Once the whole script is written, then (when
// given) runs: its failure takes back everything the script did and is
// returned. A roll-back the registry refuses part of still takes back all
// it can; the failure returned stays the block's or the step's, and the
// first refusal goes to the failure hook and into diagnostic->rollback.
// Unregister mode removes; its
// first failure ends the run, and then is not used. The expanded text is
// freed before the call returns. diagnostic, when given, is filled in with
// where the run stopped (see ScriptDiagnostic).
[[nodiscard]] HRESULT RunScript(ScriptParser& parser,
                                const Allocator& allocator, const char* text,
                                BOOL doRegister, const RegistrationStep* then,
                                ScriptDiagnostic* diagnostic = nullptr);
