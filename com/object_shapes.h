// The shapes in which the framework hosts a class T, in the manner of small
// final classes generic over the class they wrap:
//   PlainObject<T>       created without an outer unknown; counts itself.
//   AggregatedObject<T>  created for an outer object; its own IUnknown is
//                        the non-delegating unknown the outer object holds.
//   ContainedObject<T>   the T inside an AggregatedObject; its IUnknown
//                        operations go to the outer unknown.
// T derives from its interfaces, leaves IUnknown to the shape and offers
// `static const InterfaceTableEntry* Interfaces()`, whose first row is its
// identity. Instances come from the module heap and each one alive (plain
// or aggregated) holds one module lock.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <new>

#include "base/guid_compare.h"
#include "base/result_macros.h"
#include "com/interface_table.h"
#include "module/server_module.h"

// What the two shapes that count their own references share: creation from
// the module heap under a module lock, and destruction at a count of zero.
// Shape befriends this class, which alone constructs and destroys it.
template <typename Shape>
class SelfCounted {
 protected:
  // Allocates, constructs, counts the module lock, then hands out iid;
  // anything but S_OK destroys the object again.
  template <typename... Arguments>
  static HRESULT CreateShape(REFIID iid, void** out, Arguments... arguments) {
    void* memory = ModuleAlloc(sizeof(Shape));
    RETURN_IF_NULL_ALLOC(memory);
    Shape* object = new (memory) Shape(arguments...);
    LockModule();
    const HRESULT hr = object->QueryInterface(iid, out);
    if (hr != S_OK) Destroy(object);
    return hr;
  }

  ULONG AddOwnReference() { return static_cast<ULONG>(++m_refCount); }
  ULONG ReleaseOwnReference() {
    const LONG count = --m_refCount;
    if (count == 0) Destroy(static_cast<Shape*>(this));
    return static_cast<ULONG>(count);
  }

 private:
  static void Destroy(Shape* object) {
    UnlockModule();
    object->~Shape();
    ModuleFree(object);
  }

  LONG m_refCount = 0;
};

template <typename T>
class PlainObject final : public T, private SelfCounted<PlainObject<T>> {
 public:
  // T's construction runs before the first interface is looked up.
  static HRESULT Create(REFIID iid, void** out) {
    return PlainObject::CreateShape(iid, out);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return LookupInterface(static_cast<T*>(this), T::Interfaces(), iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return this->AddOwnReference(); }
  ULONG STDMETHODCALLTYPE Release() override {
    return this->ReleaseOwnReference();
  }

 private:
  friend class SelfCounted<PlainObject>;
  PlainObject() = default;
  ~PlainObject() = default;
};

template <typename T>
class ContainedObject final : public T {
 public:
  // The outer unknown is neither AddRef'd nor ever released.
  explicit ContainedObject(IUnknown* outer) : m_outer(outer) {}
  ContainedObject(const ContainedObject&) = delete;
  ContainedObject& operator=(const ContainedObject&) = delete;
  ~ContainedObject() = default;

  // Every question goes to the outer object, the whole object's identity,
  // and its answer is the answer. Answering here what the outer object
  // refuses would hand out an interface that the identity denies: a client
  // could reach it from one pointer and not from the object, and not come
  // back to it through the object's IUnknown.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    return m_outer->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return m_outer->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return m_outer->Release(); }

 private:
  IUnknown* const m_outer;
};

template <typename T>
class AggregatedObject final : public IUnknown,
                               private SelfCounted<AggregatedObject<T>> {
 public:
  // Like PlainObject<T>::Create, for an outer object; iid is IID_IUnknown.
  static HRESULT Create(IUnknown* outer, REFIID iid, void** out) {
    return AggregatedObject::CreateShape(iid, out, outer);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsSameGuid(iid, IID_IUnknown)) {
      RETURN_HR_IF_NULL(E_POINTER, out);
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    // Interfaces of the contained object: their AddRef goes to the outer.
    return LookupInterface(static_cast<T*>(&m_contained), T::Interfaces(), iid,
                           out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return this->AddOwnReference(); }
  ULONG STDMETHODCALLTYPE Release() override {
    return this->ReleaseOwnReference();
  }

 private:
  friend class SelfCounted<AggregatedObject>;
  explicit AggregatedObject(IUnknown* outer) : m_contained(outer) {}
  ~AggregatedObject() = default;
  AggregatedObject(const AggregatedObject&) = delete;
  AggregatedObject& operator=(const AggregatedObject&) = delete;

  ContainedObject<T> m_contained;
};

// The ObjectMap's instance creator for T: a plain object without an outer
// unknown, an aggregated one with it.
template <typename T>
HRESULT CreateObject(IUnknown* outer, REFIID iid, void** out) {
  if (outer == nullptr) return PlainObject<T>::Create(iid, out);
  return AggregatedObject<T>::Create(outer, iid, out);
}
