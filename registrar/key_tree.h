// Registry questions unregistration asks before it deletes a key: whether
// it still holds subkeys or named values.
#pragma once
#include <windows.h>

// *has: whether key reports at least one subkey. A query the registry
// refuses counts as none; a registry that fails (IsRegistryFailure) fails
// the call with its status, since "none" would have the key deleted over
// what it holds or taken for gone.
[[nodiscard]] HRESULT KeyHasSubkeys(HKEY key, bool* has);

// *has: whether key holds values other than a lone default value, with
// failures as KeyHasSubkeys has them.
[[nodiscard]] HRESULT KeyHasNamedValues(HKEY key, bool* has);
