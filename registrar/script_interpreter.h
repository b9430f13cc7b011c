// Running a whole registry script: expand its variables once, then walk
// every root block in register or unregister mode.
#pragma once
#include <windows.h>

class ScriptParser;

// Register mode writes what the script names; a root block that fails is
// walked again in unregister mode to take back what it wrote, and the
// failure is returned. Unregister mode removes; its first failure ends the
// run. The expanded text is freed before the call returns.
HRESULT RunScript(ScriptParser& parser, const char* text, BOOL doRegister);
