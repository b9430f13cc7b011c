// The InterfaceTable of InstallKorvex, shared by all of its object shapes,
// and the holder of its dispatch interface's type information. IDispatch
// is answered with the IInstallKorvex pointer, which derives from it.
#include <objsafe.h>

#include "installer/install_korvex.h"

const InterfaceTableEntry* InstallKorvex::Interfaces() {
  static constexpr InterfaceTableEntry kInterfaces[] = {
      InterfaceRow<IInstallKorvex, InstallKorvex>(IID_IInstallKorvex),
      InterfaceRow<IInstallKorvex, InstallKorvex>(IID_IDispatch),
      InterfaceRow<IObjectSafety, InstallKorvex>(IID_IObjectSafety),
      kInterfaceTableEndRow,
  };
  return kInterfaces;
}

TypeInfoHolder g_installKorvexTypeInfo = {
    &IID_IInstallKorvex, &LIBID_QXKORVEXLib,   /*majorVersion=*/1,
    /*minorVersion=*/0,  /*typeInfo=*/nullptr, /*nameCache=*/nullptr,
    /*nameCacheCount=*/0};
