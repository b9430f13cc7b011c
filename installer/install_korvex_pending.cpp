// The parts of InstallKorvex's interfaces that are not served yet: dispatch
// by name arrives with the type library, the safety options with the
// scripting-safety work.
#include "installer/install_korvex.h"

// Dispatch arrives with the type library.
HRESULT STDMETHODCALLTYPE InstallKorvex::GetTypeInfoCount(UINT* /*count*/) {
  return E_NOTIMPL;
}

// Dispatch arrives with the type library.
HRESULT STDMETHODCALLTYPE InstallKorvex::GetTypeInfo(UINT /*index*/,
                                                     LCID /*locale*/,
                                                     ITypeInfo** /*typeInfo*/) {
  return E_NOTIMPL;
}

// Dispatch arrives with the type library.
HRESULT STDMETHODCALLTYPE InstallKorvex::GetIDsOfNames(REFIID /*iid*/,
                                                       LPOLESTR* /*names*/,
                                                       UINT /*nameCount*/,
                                                       LCID /*locale*/,
                                                       DISPID* /*memberIds*/) {
  return E_NOTIMPL;
}

// Dispatch arrives with the type library.
HRESULT STDMETHODCALLTYPE InstallKorvex::Invoke(
    DISPID /*memberId*/, REFIID /*iid*/, LCID /*locale*/, WORD /*flags*/,
    DISPPARAMS* /*parameters*/, VARIANT* /*result*/, EXCEPINFO* /*exception*/,
    UINT* /*argumentError*/) {
  return E_NOTIMPL;
}

// Safety options arrive with the scripting-safety work.
HRESULT STDMETHODCALLTYPE InstallKorvex::GetInterfaceSafetyOptions(
    REFIID /*iid*/, DWORD* /*supported*/, DWORD* /*enabled*/) {
  return E_NOTIMPL;
}

// Safety options arrive with the scripting-safety work.
HRESULT STDMETHODCALLTYPE InstallKorvex::SetInterfaceSafetyOptions(
    REFIID /*iid*/, DWORD /*optionSetMask*/, DWORD /*enabled*/) {
  return E_NOTIMPL;
}
