// The class object of a class in the ObjectMap: creates instances through
// the class's instance creator and keeps the module loaded while clients
// hold it or lock the server.
#pragma once
#include <windows.h>
#include <objbase.h>

#include "module/server_module.h"

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(InstanceCreator creator);
  ~ClassFactory();
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  // The first reference (the module's cache) holds no module lock; the
  // second, the first held by a client, takes one for all clients together.
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid,
                                           void** out) override;
  // Holds the server loaded until the matching unlock; an unlock with no
  // lock of this kind left is ignored.
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  volatile LONG m_refCount;
  InstanceCreator m_instanceCreator;
  CRITICAL_SECTION m_cacheLock;  // serialises AddRef and Release
};

// The ObjectMap's class-object creator: a new factory for the given instance
// creator, handed out for iid. Anything but S_OK leaves no factory behind.
HRESULT CreateClassFactory(InstanceCreator creator, REFIID iid, void** out);
