// InstallKorvex's registration hook: its registry script, resource
// REGISTRY 101 of the library, run with the library's file name.
#pragma once
#include <windows.h>

// The script's resource id.
constexpr UINT kClassScriptResource = 101;

HRESULT RegisterClassScript(BOOL doRegister);
