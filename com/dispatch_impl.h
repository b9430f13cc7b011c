// IDispatch for a class's dual interface, served from the interface's type
// information in the registered type library: Holder is the interface's
// process-wide TypeInfoHolder. Names, arguments and the call itself are the
// type information's work; the member is reached through the instance's
// vtable, whichever object shape hosts it.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include "base/result_macros.h"
#include "com/type_info_holder.h"

template <typename DualInterface, TypeInfoHolder* Holder>
class DispatchImpl : public DualInterface {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = 1;
    return S_OK;
  }
  // Every index names the one type information.
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT /*index*/, LCID locale,
                                        ITypeInfo** typeInfo) override {
    RETURN_HR_IF_NULL(E_POINTER, typeInfo);
    return Holder->GetTypeInfo(locale, typeInfo);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID /*iid*/, LPOLESTR* names,
                                          UINT nameCount, LCID locale,
                                          DISPID* memberIds) override {
    return Holder->GetIDsOfNames(names, nameCount, locale, memberIds);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID memberId, REFIID /*iid*/, LCID locale,
                                   WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override {
    return Holder->Invoke(static_cast<DualInterface*>(this), memberId, locale,
                          flags, parameters, result, exception, argumentError);
  }

 protected:
  DispatchImpl() = default;
  ~DispatchImpl() = default;
};
