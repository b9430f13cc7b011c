// The library's one creatable class, InstallKorvex, and the hooks through
// which the module creates its class object and instances.
#include "module/object_map.h"

#include "com/class_factory.h"
#include "com/instance_creator.h"
#include "installer/iinstall_korvex.h"

namespace {

// InstallKorvex keeps no process-wide state of its own.
void InstallKorvexInitTerm(BOOL /*starting*/) {}

// The registration hook stays empty until the library registers itself.
ObjectMapEntry g_objectMap[] = {
    {&CLSID_InstallKorvex, /*registrationHook=*/nullptr, &CreateClassFactory,
     &CreateInstallKorvex, /*cachedClassObject=*/nullptr,
     &InstallKorvexInitTerm},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

ObjectMapEntry* ProductObjectMap() { return g_objectMap; }
