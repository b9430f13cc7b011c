// IObjectSafety for a class that script may create: the safety options a
// host has enabled on the object, a plain word since an instance is only
// called from its apartment. Until the options are served here, both
// operations answer E_NOTIMPL.
#pragma once
#include <windows.h>
#include <objsafe.h>

class ObjectSafetyImpl : public IObjectSafety {
 public:
  HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(
      REFIID /*iid*/, DWORD* /*supported*/, DWORD* /*enabled*/) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(
      REFIID /*iid*/, DWORD /*optionSetMask*/, DWORD /*enabled*/) override {
    return E_NOTIMPL;
  }

 protected:
  ObjectSafetyImpl() = default;
  ~ObjectSafetyImpl() = default;

  DWORD m_safetyOptions = 0;
};
