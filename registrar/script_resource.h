// Registration from a script resource: the library's own registry script,
// read out of its file as data and run with the variable "Module" bound to
// the library's file name.
#pragma once
#include <windows.h>
#include <objbase.h>

#include "base/allocator.h"
#include "base/registration_step.h"

// The resource type that holds registry scripts.
constexpr char kRegistryResourceType[] = "REGISTRY";

// Runs the script of resource (kRegistryResourceType, resourceId) of module
// in register or unregister mode, with "Module" bound to the module's file
// name (single quotes doubled, so that the name survives the script's
// quoting). The variables' table comes from allocator. A file name too long
// for the registry's path buffer is refused with
// HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE) before anything is read;
// a script that cannot be loaded gives the status of the platform's error,
// E_FAIL when the platform gave none; otherwise the run's status. In
// register mode then, when given, is the rest of the registration: it runs
// once the script is written, and its failure takes back what the script
// did (RunScriptWithVariables).
[[nodiscard]] HRESULT ApplyScriptResource(HMODULE module,
                                          const Allocator& allocator,
                                          UINT resourceId, BOOL doRegister,
                                          const RegistrationStep* then);

// Copies text into quoted with every single quote written twice; quoted has
// room for twice the text's length and the zero.
void DoubleSingleQuotes(LPCOLESTR text, LPOLESTR quoted);
