// Test support for the COM objects: an attached module with the provider
// present (so that creating objects starts nothing), the class factory, and
// an outer object for aggregation written as a host would write one.
#pragma once
#include <objbase.h>
#include <oleauto.h>
#include <objsafe.h>

#include <vector>

#include "installer/iinstall_korvex.h"
#include "installer/korvex_standin.h"
#include "module/attached_module.h"

class ComTest : public AttachedModuleTest {
 protected:
  void SetUp() override {
    AttachedModuleTest::SetUp();
    InstallProviderEntry();
  }
  // A client reference to the class factory.
  IClassFactory* Factory() {
    void* out = nullptr;
    EXPECT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory, &out),
              S_OK);
    return static_cast<IClassFactory*>(out);
  }
  // A plain object, handed out for iid.
  template <typename T>
  T* CreatePlain(REFIID iid) {
    IClassFactory* factory = Factory();
    void* out = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, iid, &out), S_OK);
    factory->Release();
    return static_cast<T*>(out);
  }
};

// An outer object on the test's stack. It answers IID_IUnknown itself,
// forwards the interfaces it has chosen to expose to the inner object, and
// refuses everything else. It counts its references but never destroys
// itself.
class OuterObject final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    ++m_queries;
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualGUID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (m_inner != nullptr && Forwards(iid)) {
      return m_inner->QueryInterface(iid, out);
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_count; }
  ULONG STDMETHODCALLTYPE Release() override {
    ++m_releases;
    return --m_count;
  }

  // Creates the inner object through the class factory.
  HRESULT Aggregate(IClassFactory* factory) {
    return factory->CreateInstance(this, IID_IUnknown,
                                   reinterpret_cast<void**>(&m_inner));
  }
  // Lets go of the inner object's own IUnknown; returns its new count.
  ULONG ReleaseInner() {
    const ULONG count = m_inner->Release();
    m_inner = nullptr;
    return count;
  }

  // Whether iid is one the outer object passes on to the inner one.
  bool Forwards(REFIID iid) const {
    for (const IID* forwarded : m_forwarded) {
      if (IsEqualGUID(iid, *forwarded)) return true;
    }
    return false;
  }

  IUnknown* m_inner = nullptr;  // the aggregated object's own IUnknown
  std::vector<const IID*> m_forwarded;  // none unless the test chooses
  ULONG m_count = 1;  // the test's own reference
  int m_queries = 0;
  int m_releases = 0;
};
