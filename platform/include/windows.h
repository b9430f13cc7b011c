// The native platform's <windows.h>: the same umbrella the SDK provides.
#pragma once
#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <winnls.h>
#include <winuser.h>
#include <winreg.h>
