// InstallKorvex: the class itself, whichever object shape hosts it. It
// lists its interfaces and implements install; the framework supplies
// IUnknown (through the shape), IDispatch and IObjectSafety.
#pragma once
#include <windows.h>
#include <objbase.h>

#include "com/dispatch_impl.h"
#include "com/interface_table.h"
#include "com/object_safety_impl.h"
#include "com/type_info_holder.h"
#include "installer/iinstall_korvex.h"

// The type information of IInstallKorvex, version 1.0 of QXKORVEXLib,
// shared by every instance.
extern TypeInfoHolder g_installKorvexTypeInfo;

class InstallKorvex
    : public DispatchImpl<IInstallKorvex, &g_installKorvexTypeInfo>,
      public ObjectSafetyImpl {
 public:
  InstallKorvex(const InstallKorvex&) = delete;
  InstallKorvex& operator=(const InstallKorvex&) = delete;

  // IInstallKorvex (the identity), IDispatch, IObjectSafety.
  static const InterfaceTableEntry* Interfaces();

  // IInstallKorvex
  HRESULT STDMETHODCALLTYPE install(LONG* val) override;

 protected:
  // Runs the provider probe (and perhaps the installer) at once, before the
  // creator looks up any interface; the status is not kept.
  InstallKorvex();
  ~InstallKorvex() = default;
};
