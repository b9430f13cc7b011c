// The type information of one dispatch interface, loaded once per process
// from the registered type library on first use and shared by every
// instance, with a cache of its function names that answers the usual
// exact-case GetIDsOfNames without asking the type information. Emptied at
// process detach through the module's term list.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

struct NameCacheEntry {
  BSTR name;  // owned; null when the type information gave none
  LONG length;
  DISPID memberId;
};

struct TypeInfoHolder {
  const IID* interfaceId;
  const GUID* libraryId;
  WORD majorVersion;
  WORD minorVersion;
  // One reference (to ITypeInfo2 where offered); null until loaded. Written
  // once, under the module's general lock, after the cache is complete.
  ITypeInfo* typeInfo;
  NameCacheEntry* nameCache;  // from the module heap; null when empty
  LONG nameCacheCount;

  // Loads the type information unless it is loaded already. Every call
  // that finds it missing adds one clean-up to the term list.
  HRESULT Load(LCID locale);
  // *out gets the type information (AddRef'd) or null.
  HRESULT GetTypeInfo(LCID locale, ITypeInfo** out);
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT nameCount, LCID locale,
                        DISPID* memberIds);
  // Calls member memberId of instance through the type information.
  HRESULT Invoke(IDispatch* instance, DISPID memberId, LCID locale, WORD flags,
                 DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                 UINT* argumentError);

  // The term-list callback; context is the holder. Safe to run again.
  static void CleanUp(DWORD_PTR context);

 private:
  ITypeInfo* Loaded() const;
  void BuildNameCache(ITypeInfo* info);
};
