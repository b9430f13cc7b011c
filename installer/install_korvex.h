// InstallKorvex: what every instance of the class holds, whichever object
// shape wraps it. The shapes (plain, contained) supply QueryInterface,
// AddRef and Release; this class supplies the rest of both interfaces.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <objsafe.h>

#include "installer/iinstall_korvex.h"

class InstallKorvex : public IInstallKorvex, public IObjectSafety {
 public:
  InstallKorvex(const InstallKorvex&) = delete;
  InstallKorvex& operator=(const InstallKorvex&) = delete;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale,
                                        ITypeInfo** typeInfo) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names,
                                          UINT nameCount, LCID locale,
                                          DISPID* memberIds) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID memberId, REFIID iid, LCID locale,
                                   WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override;

  // IInstallKorvex
  HRESULT STDMETHODCALLTYPE install(LONG* val) override;

  // IObjectSafety
  HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID iid,
                                                      DWORD* supported,
                                                      DWORD* enabled) override;
  HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID iid,
                                                      DWORD optionSetMask,
                                                      DWORD enabled) override;

 protected:
  // Runs the provider probe (and perhaps the installer) at once, before the
  // creator looks up any interface; the status is not kept.
  InstallKorvex();
  ~InstallKorvex() = default;

  // A plain object counts its references here; a contained one keeps its
  // outer unknown (not reference counted) in the same place.
  union CountOrOuter {
    LONG count;
    IUnknown* outer;
  };

  DWORD m_safetyOptions;
  CountOrOuter m_countOrOuter;
};
