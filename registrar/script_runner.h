// One call that runs a registry script with a set of variables: what a host
// and the library's own registration use.
#pragma once
#include <windows.h>
#include <objbase.h>

#include "base/allocator.h"
#include "base/registration_step.h"
#include "registrar/script_diagnostic.h"

// Binds names[i] to values[i] (in order; count pairs), runs scriptText in
// register (doRegister true) or unregister mode and returns the run's
// status. The variables' table and the records register mode keeps to take
// its changes back come from allocator: the library passes its module heap,
// a host or a test whatever heap it likes. In register mode then, when
// given, runs once the script is written, and its failure takes the
// script's changes back (see RunScript). E_OUTOFMEMORY when the variables
// or a record cannot be stored; E_POINTER for a missing text, or missing
// arrays when count is above 0. diagnostic, when given, is filled in with
// where the script's run stopped (see ScriptDiagnostic).
[[nodiscard]] HRESULT RunScriptWithVariables(
    const Allocator& allocator, const char* scriptText, const LPCOLESTR* names,
    const LPCOLESTR* values, int count, BOOL doRegister,
    const RegistrationStep* then = nullptr,
    ScriptDiagnostic* diagnostic = nullptr);
