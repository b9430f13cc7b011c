// The library's entry point: the platform loader calls it at process attach
// and detach. Thread notifications are switched off, since the library keeps
// no per-thread state.
#include "installer/object_map.h"
#include "module/exports.h"
#include "module/server_module.h"

EXTERN_C BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason,
                             LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    InitializeModule(ProcessServerModule(), ProductObjectMap(), instance);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    TerminateModule(ProcessServerModule());
  }
  return TRUE;
}
