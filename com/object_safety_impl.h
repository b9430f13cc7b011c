// IObjectSafety for a class that script may create: both options supported
// for every interface the object accepts, and one word of enabled options
// for the whole object. Nothing else reads the word; it is only reported
// back. A plain word, since an instance is only called from its apartment.
#pragma once
#include <windows.h>
#include <objsafe.h>

#include "base/result_macros.h"

class ObjectSafetyImpl : public IObjectSafety {
 public:
  static constexpr DWORD kSupportedOptions =
      INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

  HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID iid,
                                                      DWORD* supported,
                                                      DWORD* enabled) override {
    RETURN_HR_IF(E_POINTER, supported == nullptr || enabled == nullptr);
    const HRESULT hr = Accepts(iid);
    if (FAILED(hr)) {
      *supported = 0;
      *enabled = 0;
      return hr;
    }
    *supported = kSupportedOptions;
    *enabled = m_safetyOptions;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID iid,
                                                      DWORD optionSetMask,
                                                      DWORD enabled) override {
    RETURN_HR_IF(E_NOINTERFACE, FAILED(Accepts(iid)));
    RETURN_HR_IF(E_FAIL, (optionSetMask & ~kSupportedOptions) != 0);
    m_safetyOptions =
        (m_safetyOptions & ~optionSetMask) | (enabled & optionSetMask);
    return S_OK;
  }

 protected:
  ObjectSafetyImpl() = default;
  ~ObjectSafetyImpl() = default;

 private:
  // Whether the object hands out iid, asked of the object itself (for a
  // contained object, of its outer object, which answers for the whole).
  HRESULT Accepts(REFIID iid) {
    IUnknown* asked = nullptr;
    const HRESULT hr = QueryInterface(iid, reinterpret_cast<void**>(&asked));
    if (SUCCEEDED(hr) && asked != nullptr) asked->Release();
    return hr;
  }

  DWORD m_safetyOptions = 0;
};
