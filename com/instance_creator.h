// The ObjectMap's instance creator for InstallKorvex: a plain object without
// an outer unknown, an aggregated one with it.
#pragma once
#include <windows.h>
#include <objbase.h>

HRESULT CreateInstallKorvex(IUnknown* outer, REFIID iid, void** out);
