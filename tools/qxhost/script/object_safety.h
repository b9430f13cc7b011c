// The check a browser makes before untrusted script may touch an object:
// the object must say, through IObjectSafety, that it is safe for
// untrusted callers (and for untrusted data when the page initialises it).
#pragma once
#include <windows.h>
#include <objbase.h>

namespace qxhost {

// S_OK when the object agreed; otherwise why not: E_NOINTERFACE without
// IObjectSafety, the failure of Get/SetInterfaceSafetyOptions, or E_FAIL
// when the options it supports do not include the ones asked for.
HRESULT MakeSafeForScripting(IUnknown* object, bool untrustedData);

}  // namespace qxhost
