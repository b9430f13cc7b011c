// Registry questions and removals the walk needs beyond single calls:
// deleting a key with everything below it, and whether a key still holds
// subkeys or named values.
#pragma once
#include <windows.h>

// Deletes the subkey name of parent and everything below it. The Win32
// error of the first step that failed, 0 on success.
LSTATUS DeleteKeyTree(HKEY parent, const char* name);

// True when key reports at least one subkey; a failing query counts as none.
bool KeyHasSubkeys(HKEY key);

// True when key holds values other than a lone default value; a failing
// query counts as none.
bool KeyHasNamedValues(HKEY key);
