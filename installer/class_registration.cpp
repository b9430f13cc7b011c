// RegisterClassScript: the library's own script, from its own file, with
// the registrar's table on the module heap.
#include "installer/class_registration.h"

#include "module/server_module.h"
#include "registrar/script_resource.h"

HRESULT RegisterClassScript(BOOL doRegister, const RegistrationStep* then) {
  return ApplyScriptResource(CurrentModule().instance, kModuleHeapAllocator,
                             kClassScriptResource, doRegister, then);
}
