// TypeInfoHolder: the one-time load under the module's general lock, the
// name cache, and the clean-up.
#include "com/type_info_holder.h"

#include <new>

#include "base/holders.h"
#include "base/result_macros.h"
#include "module/server_module.h"

namespace {

// {00020412-0000-0000-C000-000000000046}
constexpr IID kIidTypeInfo2 = {
    0x00020412,
    0x0000,
    0x0000,
    {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

LONG NameLength(LPCOLESTR name) {
  LONG length = 0;
  while (name[length] != 0) ++length;
  return length;
}

bool SameName(const NameCacheEntry& entry, LPCOLESTR name, LONG length) {
  if (entry.name == nullptr || entry.length != length) return false;
  for (LONG i = 0; i < length; ++i) {
    if (entry.name[i] != name[i]) return false;
  }
  return true;
}

}  // namespace

// Readers take the pointer without the lock, so it is stored with release
// and read with acquire ordering: whoever sees it also sees the cache built
// before it was stored. On the processors the library runs on both are
// plain moves, which keeps a cached lookup to a few nanoseconds.
ITypeInfo* TypeInfoHolder::Loaded() const {
  return __atomic_load_n(&typeInfo, __ATOMIC_ACQUIRE);
}

HRESULT TypeInfoHolder::Load(LCID locale) {
  if (Loaded() != nullptr) return S_OK;
  HRESULT hr = S_OK;
  {
    CriticalSectionGuard guard(CurrentModule().generalLock);
    if (Loaded() == nullptr) {
      ComPtr<ITypeLib> library;
      ComPtr<ITypeInfo> info;
      hr = LoadRegTypeLib(*libraryId, majorVersion, minorVersion, locale,
                          library.put());
      if (SUCCEEDED(hr)) {
        hr = library->GetTypeInfoOfGuid(*interfaceId, info.put());
      }
      if (SUCCEEDED(hr)) {
        ComPtr<ITypeInfo> kept;
        if (FAILED(info->QueryInterface(kIidTypeInfo2, kept.put_void()))) {
          kept = std::move(info);
        }
        BuildNameCache(kept.get());
        __atomic_store_n(&typeInfo, kept.detach(), __ATOMIC_RELEASE);
      }
    }
  }
  // Each call that came this far adds one: a load that keeps failing adds
  // an entry per attempt, and the clean-up copes with running again.
  AddTermFunction(&TypeInfoHolder::CleanUp, reinterpret_cast<DWORD_PTR>(this));
  return hr;
}

void TypeInfoHolder::BuildNameCache(ITypeInfo* info) {
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) return;
  nameCacheCount = attributes->cFuncs;
  if (nameCacheCount > 0) {
    void* memory = ModuleAlloc(sizeof(NameCacheEntry) *
                               static_cast<SIZE_T>(nameCacheCount));
    if (memory == nullptr) {
      nameCacheCount = 0;
    } else {
      nameCache = static_cast<NameCacheEntry*>(memory);
      for (LONG i = 0; i < nameCacheCount; ++i) {
        new (&nameCache[i]) NameCacheEntry{nullptr, 0, 0};
      }
    }
  }
  for (LONG i = 0; nameCache != nullptr && i < nameCacheCount; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(static_cast<UINT>(i), &function))) continue;
    BSTR name = nullptr;
    if (SUCCEEDED(info->GetDocumentation(function->memid, &name,
                                         /*pBstrDocString=*/nullptr,
                                         /*pdwHelpContext=*/nullptr,
                                         /*pBstrHelpFile=*/nullptr))) {
      nameCache[i] = {name, static_cast<LONG>(SysStringLen(name)),
                      function->memid};
    }
    info->ReleaseFuncDesc(function);
  }
  info->ReleaseTypeAttr(attributes);
}

HRESULT TypeInfoHolder::GetTypeInfo(LCID locale, ITypeInfo** out) {
  HRESULT hr = S_OK;
  if (Loaded() == nullptr) hr = Load(locale);
  ITypeInfo* info = Loaded();
  *out = info;
  if (info == nullptr) return hr;
  info->AddRef();
  return S_OK;
}

HRESULT TypeInfoHolder::GetIDsOfNames(LPOLESTR* names, UINT nameCount,
                                      LCID locale, DISPID* memberIds) {
  HRESULT hr = S_OK;
  if (Loaded() == nullptr) {
    hr = Load(locale);
    if (Loaded() == nullptr) return hr;
  }
  if (static_cast<INT>(nameCount) <= 0) return hr;
  ITypeInfo* info = Loaded();
  // The cache reads each name and writes its id in place, so it only takes
  // requests it can read and write. A null array or name is the caller's
  // mistake, and the type information's to answer, as for any name the
  // cache does not hold.
  const bool readable = names != nullptr && memberIds != nullptr;
  for (UINT i = 0; i < nameCount; ++i) {
    bool cached = false;
    if (readable && names[i] != nullptr) {
      const LONG length = NameLength(names[i]);
      for (LONG entry = nameCacheCount - 1; entry >= 0 && !cached; --entry) {
        if (SameName(nameCache[entry], names[i], length)) {
          memberIds[i] = nameCache[entry].memberId;
          cached = true;
        }
      }
    }
    if (cached) continue;
    // The type information answers the whole request; later cache hits
    // write over what it gave for their names.
    hr = info->GetIDsOfNames(names, nameCount, memberIds);
    RETURN_IF_FAILED(hr);
  }
  return hr;
}

HRESULT TypeInfoHolder::Invoke(IDispatch* instance, DISPID memberId,
                               LCID locale, WORD flags, DISPPARAMS* parameters,
                               VARIANT* result, EXCEPINFO* exception,
                               UINT* argumentError) {
  if (Loaded() == nullptr) {
    const HRESULT hr = Load(locale);
    if (Loaded() == nullptr) return hr;
  }
  return Loaded()->Invoke(instance, memberId, flags, parameters, result,
                          exception, argumentError);
}

void TypeInfoHolder::CleanUp(DWORD_PTR context) {
  TypeInfoHolder* holder = reinterpret_cast<TypeInfoHolder*>(context);
  if (holder->typeInfo != nullptr) {
    holder->typeInfo->Release();
    holder->typeInfo = nullptr;
  }
  if (holder->nameCache != nullptr) {
    for (LONG i = holder->nameCacheCount - 1; i >= 0; --i) {
      SysFreeString(holder->nameCache[i].name);
    }
    ModuleFree(holder->nameCache);
    holder->nameCache = nullptr;
  }
  holder->nameCacheCount = 0;
}
