// InstallKorvex's registration hook: its registry script, resource
// REGISTRY 101 of the library, run with the library's file name.
#pragma once
#include <windows.h>

#include "base/registration_step.h"

// The script's resource id.
constexpr UINT kClassScriptResource = 101;

// The ObjectMap's registration hook for the class: then runs once the
// script is written, and its failure takes the script's changes back.
[[nodiscard]] HRESULT RegisterClassScript(BOOL doRegister,
                                          const RegistrationStep* then);
