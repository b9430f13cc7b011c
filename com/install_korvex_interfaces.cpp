// The InterfaceTable of InstallKorvex, shared by all of its object shapes.
// IDispatch is answered with the IInstallKorvex pointer, which derives
// from it.
#include <objsafe.h>

#include "com/object_shapes.h"

const InterfaceTableEntry kInstallKorvexInterfaces[] = {
    {&IID_IInstallKorvex, InterfaceOffset<IInstallKorvex, InstallKorvex>(),
     kInterfaceRow},
    {&IID_IDispatch, InterfaceOffset<IInstallKorvex, InstallKorvex>(),
     kInterfaceRow},
    {&IID_IObjectSafety, InterfaceOffset<IObjectSafety, InstallKorvex>(),
     kInterfaceRow},
    {nullptr, 0, kInterfaceTableEnd},
};
