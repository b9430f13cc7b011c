// The object the Invoke tests call: IInvokeTarget of the invoke_target
// fixture library, its IDispatch served by the library's type information
// the way a framework serves a dual interface.
#pragma once
#include <oleauto.h>

#include <string>

#include "typelib_support.h"

namespace invoke_test {

constexpr GUID kIInvokeTarget = {
    0x5E1AE1D0,
    0x3F41,
    0x4C69,
    {0x9B, 0x0A, 0x2B, 0x1D, 0x0E, 0x6A, 0x03, 0x01}};

struct IInvokeTarget : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Add(SHORT a, LONG b, LONG* sum) = 0;
  virtual HRESULT STDMETHODCALLTYPE Scale(DOUBLE factor, VARIANT_BOOL negate,
                                          DOUBLE* result) = 0;
  virtual HRESULT STDMETHODCALLTYPE Greet(BSTR name, BSTR* greeting) = 0;
  virtual HRESULT STDMETHODCALLTYPE Hold(IDispatch* item, LONG* held) = 0;
  virtual HRESULT STDMETHODCALLTYPE Options(LONG first, LONG second,
                                            VARIANT third, LONG* code) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Level(LONG* level) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Level(LONG level) = 0;
  virtual HRESULT STDMETHODCALLTYPE Fail(LONG code) = 0;
  virtual HRESULT STDMETHODCALLTYPE Twice(LONG* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Self(IInvokeTarget** self) = 0;
  virtual HRESULT STDMETHODCALLTYPE Count(IDispatch* item, IUnknown* other,
                                          LONG* given) = 0;
  // Takes a safe array, which no call through Invoke can pass.
  virtual HRESULT STDMETHODCALLTYPE Sum(LONG first, void* values,
                                        LONG* total) = 0;
};

class InvokeTarget final : public IInvokeTarget {
 public:
  explicit InvokeTarget(ITypeInfo* info) : m_info(info) {}

  static constexpr VARTYPE kNotCalled = 0xFFFF;
  // What the methods were last given.
  VARTYPE m_lastThird = kNotCalled;
  SCODE m_lastThirdCode = 0;
  VARIANT_BOOL m_lastNegate = 0;
  IDispatch* m_lastHeld = nullptr;
  LONG m_level = 0;
  ULONG m_references = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch ||
        riid == kIInvokeTarget) {
      *ppv = static_cast<IInvokeTarget*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_references; }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    m_info->AddRef();
    *info = m_info;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count,
                                          LCID, DISPID* ids) override {
    return m_info->GetIDsOfNames(names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags,
                                   DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception,
                                   UINT* argErr) override {
    return m_info->Invoke(static_cast<IInvokeTarget*>(this), member, flags,
                          params, result, exception, argErr);
  }

  HRESULT STDMETHODCALLTYPE Add(SHORT a, LONG b, LONG* sum) override {
    *sum = a + b;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scale(DOUBLE factor, VARIANT_BOOL negate,
                                  DOUBLE* result) override {
    m_lastNegate = negate;
    *result = negate ? -factor : factor;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Greet(BSTR name, BSTR* greeting) override {
    std::u16string text = u"Hello, ";
    text.append(name, SysStringLen(name));
    *greeting = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *greeting != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE Hold(IDispatch* item, LONG* held) override {
    m_lastHeld = item;
    *held = item != nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Options(LONG first, LONG second, VARIANT third,
                                    LONG* code) override {
    m_lastThird = third.vt;
    m_lastThirdCode = third.vt == VT_ERROR ? third.scode : 0;
    *code = first * 100 + second;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Level(LONG* value) override {
    *value = m_level;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Level(LONG value) override {
    m_level = value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Fail(LONG code) override { return code; }
  HRESULT STDMETHODCALLTYPE Twice(LONG* value) override {
    *value *= 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Self(IInvokeTarget** self) override {
    AddRef();
    *self = this;
    return S_OK;
  }
  // How many of the two objects were given.
  HRESULT STDMETHODCALLTYPE Count(IDispatch* item, IUnknown* other,
                                  LONG* given) override {
    *given = (item != nullptr) + (other != nullptr);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Sum(LONG, void*, LONG*) override {
    ADD_FAILURE() << "a safe array reached the object";
    return E_UNEXPECTED;
  }

 private:
  ITypeInfo* m_info;
};

}  // namespace invoke_test
