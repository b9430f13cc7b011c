// The library's one creatable class, InstallKorvex, and the hooks through
// which the module creates its class object and instances.
#include "installer/object_map.h"

#include "com/class_factory.h"
#include "com/object_shapes.h"
#include "installer/class_registration.h"
#include "installer/install_korvex.h"

namespace {

// InstallKorvex keeps no process-wide state of its own.
void InstallKorvexInitTerm(BOOL /*starting*/) {}

ObjectMapEntry g_objectMap[] = {
    {&CLSID_InstallKorvex, &RegisterClassScript, &CreateClassFactory,
     &CreateObject<InstallKorvex>, /*cachedClassObject=*/nullptr,
     &InstallKorvexInitTerm},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

ObjectMapEntry* ProductObjectMap() { return g_objectMap; }
