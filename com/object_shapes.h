// The object shapes of InstallKorvex, in the manner of small final classes:
//   PlainObject       created without an outer unknown; counts itself.
//   AggregatedObject  created for an outer object; its own IUnknown is the
//                     non-delegating unknown the outer object holds.
//   ContainedObject   the InstallKorvex inside an AggregatedObject; its
//                     IUnknown operations go to the outer unknown.
// Instances come from the module heap and each one alive (plain or
// aggregated) holds one module lock.
#pragma once
#include <windows.h>
#include <objbase.h>

#include "com/interface_table.h"
#include "installer/install_korvex.h"

// IInstallKorvex (the identity), IDispatch, IObjectSafety, over the
// InstallKorvex part of any shape.
extern const InterfaceTableEntry kInstallKorvexInterfaces[];

class PlainObject final : public InstallKorvex {
 public:
  // Allocates, constructs (probe included), counts the module lock, then
  // hands out iid; anything but S_OK destroys the object again.
  static HRESULT Create(REFIID iid, void** out);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

 private:
  PlainObject() = default;
  ~PlainObject() = default;
  static void Destroy(PlainObject* object);
};

class ContainedObject final : public InstallKorvex {
 public:
  // The outer unknown is neither AddRef'd nor ever released.
  explicit ContainedObject(IUnknown* outer);

  // Asks the outer object first; only what it refuses is answered here.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
};

class AggregatedObject final : public IUnknown {
 public:
  // Like PlainObject::Create, for an outer object; iid is IID_IUnknown.
  static HRESULT Create(IUnknown* outer, REFIID iid, void** out);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

 private:
  explicit AggregatedObject(IUnknown* outer);
  ~AggregatedObject() = default;
  AggregatedObject(const AggregatedObject&) = delete;
  AggregatedObject& operator=(const AggregatedObject&) = delete;
  static void Destroy(AggregatedObject* object);

  LONG m_refCount;
  ContainedObject m_contained;
};
