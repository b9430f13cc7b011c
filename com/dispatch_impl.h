// IDispatch for a class's dual interface. Dispatch by name is served from
// the class's type information; until that is loaded here, every call
// answers E_NOTIMPL and scripts reach the class through its vtable only.
#pragma once
#include <windows.h>
#include <oaidl.h>

template <typename DualInterface>
class DispatchImpl : public DualInterface {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* /*count*/) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT /*index*/, LCID /*locale*/,
                                        ITypeInfo** /*typeInfo*/) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID /*iid*/, LPOLESTR* /*names*/,
                                          UINT /*nameCount*/, LCID /*locale*/,
                                          DISPID* /*memberIds*/) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID /*memberId*/, REFIID /*iid*/,
                                   LCID /*locale*/, WORD /*flags*/,
                                   DISPPARAMS* /*parameters*/,
                                   VARIANT* /*result*/,
                                   EXCEPINFO* /*exception*/,
                                   UINT* /*argumentError*/) override {
    return E_NOTIMPL;
  }

 protected:
  DispatchImpl() = default;
  ~DispatchImpl() = default;
};
