// The InstallKorvex object: construction with its provider probe, and the
// install operation.
#include "installer/install_korvex.h"

#include "base/result_macros.h"
#include "installer/provider_probe.h"

InstallKorvex::InstallKorvex() { ProbeAndLaunch(); }

// A null val is refused before anything runs: no probe and no launch.
HRESULT STDMETHODCALLTYPE InstallKorvex::install(LONG* val) {
  RETURN_HR_IF_NULL(E_POINTER, val);
  *val = ProbeAndLaunch();
  return S_OK;
}
