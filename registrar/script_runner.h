// One call that runs a registry script with a set of variables: what a host
// and the library's own registration use.
#pragma once
#include <windows.h>
#include <objbase.h>

#include "base/allocator.h"

// Binds names[i] to values[i] (in order; count pairs), runs scriptText in
// register (doRegister true) or unregister mode and returns the run's
// status. The variables' table comes from allocator: the library passes its
// module heap, a host or a test whatever heap it likes. E_OUTOFMEMORY when
// the variables cannot be stored; E_POINTER for a missing text, or missing
// arrays when count is above 0.
HRESULT RunScriptWithVariables(const Allocator& allocator,
                               const char* scriptText, const LPCOLESTR* names,
                               const LPCOLESTR* values, int count,
                               BOOL doRegister);
