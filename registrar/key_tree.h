// Registry questions unregistration asks before it deletes a key: whether
// it still holds subkeys or named values.
#pragma once
#include <windows.h>

// True when key reports at least one subkey; a failing query counts as none.
bool KeyHasSubkeys(HKEY key);

// True when key holds values other than a lone default value; a failing
// query counts as none.
bool KeyHasNamedValues(HKEY key);
