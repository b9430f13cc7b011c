// ITypeLib: the library's attributes and documentation, its type infos by
// index or GUID, name lookups over types and members, and href resolution,
// including types of imported libraries (loaded on first use through the
// registry, with the platform's stdole2 behind it).
#include "type_lib.h"

#include <objbase.h>
#include <oleauto.h>

#include <new>

#include "type_info.h"
#include "typelib_internal.h"

namespace qxplatform {
namespace internal {

HRESULT CopyTexts(
    std::initializer_list<std::pair<BSTR*, const std::u16string*>> texts) {
  for (const auto& text : texts) {
    if (text.first != nullptr) *text.first = nullptr;
  }
  for (const auto& text : texts) {
    if (text.first == nullptr || text.second == nullptr) continue;
    *text.first = SysAllocStringLen(text.second->data(),
                                    static_cast<UINT>(text.second->size()));
    if (*text.first != nullptr) continue;
    for (const auto& undo : texts) {
      if (undo.first == nullptr) continue;
      SysFreeString(*undo.first);
      *undo.first = nullptr;
    }
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

TypeLib::TypeLib(std::shared_ptr<const TypeLibModel> model)
    : m_model(std::move(model)),
      m_imports(m_model->importedLibraries.size(), nullptr) {}

TypeLib::~TypeLib() {
  for (TypeLib* imported : m_imports) {
    if (imported != nullptr) imported->Release();
  }
}

HRESULT TypeLib::Create(std::shared_ptr<const TypeLibModel> model,
                        TypeLib** lib) {
  TypeLib* created = new (std::nothrow) TypeLib(std::move(model));
  if (created == nullptr) return E_OUTOFMEMORY;
  const auto& types = created->m_model->types;
  created->m_views.resize(types.size() * 2);
  for (size_t i = 0; i < types.size(); ++i) {
    created->m_views[2 * i].reset(
        new (std::nothrow) TypeInfo(created, i, /*interfaceView=*/false));
    bool ok = created->m_views[2 * i] != nullptr;
    if (ok && types[i].IsDual()) {
      created->m_views[2 * i + 1].reset(
          new (std::nothrow) TypeInfo(created, i, /*interfaceView=*/true));
      ok = created->m_views[2 * i + 1] != nullptr;
    }
    if (!ok) {
      delete created;
      return E_OUTOFMEMORY;
    }
  }
  *lib = created;
  return S_OK;
}

TypeInfo* TypeLib::View(size_t index, bool interfaceView) const {
  TypeInfo* dual = interfaceView ? m_views[2 * index + 1].get() : nullptr;
  return dual != nullptr ? dual : m_views[2 * index].get();
}

int64_t TypeLib::FindType(REFGUID guid) const {
  const auto& types = m_model->types;
  for (size_t i = 0; i < types.size(); ++i) {
    if (types[i].hasGuid && types[i].guid == guid)
      return static_cast<int64_t>(i);
  }
  return -1;
}

HRESULT TypeLib::ImportedLibrary(int32_t index, TypeLib** lib) {
  std::lock_guard<std::mutex> guard(m_importsLock);
  TypeLib*& imported = m_imports[static_cast<size_t>(index)];
  if (imported == nullptr) {
    const internal::ImportedLibrary& wanted = m_model->importedLibraries[index];
    // An import serves this library's vtables: it is looked for in this
    // library's system kind.
    HRESULT hr = LoadRegisteredTypeLib(wanted.libid, wanted.majorVersion,
                                       wanted.minorVersion, wanted.lcid,
                                       m_model->sysKind, &imported);
    if (FAILED(hr)) return hr;
  }
  *lib = imported;
  return S_OK;
}

HRESULT TypeLib::ResolveHref(HREFTYPE href, TypeLib** lib, size_t* index) {
  if (href & kHrefViewBits) return TYPE_E_ELEMENTNOTFOUND;
  if ((href & 1) == 0) {
    if (href % kTypeInfoRecordSize != 0 ||
        href / kTypeInfoRecordSize >= m_model->types.size())
      return TYPE_E_ELEMENTNOTFOUND;
    *lib = this;
    *index = href / kTypeInfoRecordSize;
    return S_OK;
  }
  auto found = m_model->importedTypes.find(href);
  if (found == m_model->importedTypes.end() || found->second.library == kNone)
    return TYPE_E_ELEMENTNOTFOUND;
  const ImportedType& wanted = found->second;
  const internal::ImportedLibrary& source =
      m_model->importedLibraries[static_cast<size_t>(wanted.library)];
  TypeLib* imported = this;
  // A library may import from itself: the compiler has a library that
  // defines IDispatch (stdole2) import it from "stdole2.tlb" for its own
  // dispatch interfaces. That is this library, not another copy of it
  // found through the registry.
  if (source.libid != m_model->libid ||
      source.majorVersion != m_model->majorVersion ||
      source.minorVersion != m_model->minorVersion) {
    HRESULT hr = ImportedLibrary(wanted.library, &imported);
    if (FAILED(hr)) return hr;
  }
  int64_t target =
      wanted.byGuid ? imported->FindType(wanted.guid) : wanted.typeIndex;
  if (target < 0 ||
      static_cast<size_t>(target) >= imported->m_model->types.size())
    return TYPE_E_ELEMENTNOTFOUND;
  *lib = imported;
  *index = static_cast<size_t>(target);
  return S_OK;
}

// ---- IUnknown ---------------------------------------------------------------

HRESULT TypeLib::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ITypeLib) {
    *ppv = static_cast<ITypeLib*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeLib::AddRef() { return ++m_references; }

ULONG TypeLib::Release() {
  ULONG remaining = --m_references;
  if (remaining == 0) delete this;
  return remaining;
}

// ---- ITypeLib ---------------------------------------------------------------

UINT TypeLib::GetTypeInfoCount() {
  return static_cast<UINT>(m_model->types.size());
}

HRESULT TypeLib::GetTypeInfo(UINT index, ITypeInfo** ppTInfo) {
  if (ppTInfo == nullptr) return E_INVALIDARG;
  *ppTInfo = nullptr;
  if (index >= m_model->types.size()) return TYPE_E_ELEMENTNOTFOUND;
  *ppTInfo = View(index, /*interfaceView=*/false);
  (*ppTInfo)->AddRef();
  return S_OK;
}

HRESULT TypeLib::GetTypeInfoType(UINT index, TYPEKIND* pTKind) {
  if (pTKind == nullptr) return E_INVALIDARG;
  if (index >= m_model->types.size()) return TYPE_E_ELEMENTNOTFOUND;
  *pTKind = m_model->types[index].kind;
  return S_OK;
}

HRESULT TypeLib::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) {
  if (ppTinfo == nullptr) return E_INVALIDARG;
  *ppTinfo = nullptr;
  int64_t index = FindType(guid);
  if (index < 0) return TYPE_E_ELEMENTNOTFOUND;
  return GetTypeInfo(static_cast<UINT>(index), ppTinfo);
}

HRESULT TypeLib::GetLibAttr(TLIBATTR** ppTLibAttr) {
  if (ppTLibAttr == nullptr) return E_INVALIDARG;
  auto* attr = static_cast<TLIBATTR*>(CoTaskMemAlloc(sizeof(TLIBATTR)));
  *ppTLibAttr = attr;
  if (attr == nullptr) return E_OUTOFMEMORY;
  attr->guid = m_model->libid;
  attr->lcid = m_model->lcid;
  attr->syskind = m_model->sysKind;
  attr->wMajorVerNum = m_model->majorVersion;
  attr->wMinorVerNum = m_model->minorVersion;
  attr->wLibFlags = m_model->flags;
  return S_OK;
}

HRESULT TypeLib::GetTypeComp(ITypeComp** ppTComp) {
  if (ppTComp == nullptr) return E_INVALIDARG;
  *ppTComp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeLib::GetDocumentation(INT index, BSTR* pBstrName,
                                  BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                  BSTR* pBstrHelpFile) {
  if (index != -1) {
    if (index < 0 || static_cast<size_t>(index) >= m_model->types.size())
      return TYPE_E_ELEMENTNOTFOUND;
    return View(static_cast<size_t>(index), /*interfaceView=*/false)
        ->GetDocumentation(MEMBERID_NIL, pBstrName, pBstrDocString,
                           pdwHelpContext, pBstrHelpFile);
  }
  const TypeLibModel& lib = *m_model;
  HRESULT hr = CopyTexts({{pBstrName, lib.TextOrNull(lib.name)},
                          {pBstrDocString, lib.TextOrNull(lib.docString)},
                          {pBstrHelpFile, lib.TextOrNull(lib.helpFile)}});
  if (SUCCEEDED(hr) && pdwHelpContext != nullptr)
    *pdwHelpContext = lib.helpContext;
  return hr;
}

const TypeLib::Names& TypeLib::NamesIndex() {
  std::lock_guard<std::mutex> guard(m_namesLock);
  if (m_namesReady) return m_names;
  const TypeLibModel& lib = *m_model;
  auto add = [&](int32_t name, size_t type, MEMBERID memid, bool isParam) {
    if (name == kNone) return;
    m_names.entries.push_back(
        {name, static_cast<uint32_t>(type), memid, isParam});
    m_names.index.Add(lib.Text(name), memid);
  };
  for (size_t t = 0; t < lib.types.size(); ++t) {
    const TypeEntry& type = lib.types[t];
    add(type.name, t, MEMBERID_NIL, /*isParam=*/false);
    for (const Function& function : type.functions) {
      add(function.name, t, function.memid, false);
      for (const Param& param : function.params)
        add(param.name, t, function.memid, true);
    }
    for (const Variable& variable : type.variables)
      add(variable.name, t, variable.memid, false);
  }
  m_namesReady = true;
  // Not changed once ready, so it is read without the lock.
  return m_names;
}

namespace {

// Puts the name as the library spells it into the caller's buffer; the
// match ignored case only, so the length is the same.
void CopySpelling(const std::u16string& stored, LPOLESTR buffer) {
  std::copy(stored.begin(), stored.end(), buffer);
}

}  // namespace

HRESULT TypeLib::IsName(LPOLESTR szNameBuf, ULONG /*lHashVal*/, BOOL* pfName) {
  if (szNameBuf == nullptr || pfName == nullptr) return E_INVALIDARG;
  *pfName = FALSE;
  const Names& names = NamesIndex();
  uint32_t first = names.index.FirstNamed(FoldedName(szNameBuf));
  if (first == MemberIndex::kEnd) return S_OK;
  CopySpelling(m_model->Text(names.entries[first].name), szNameBuf);
  *pfName = TRUE;
  return S_OK;
}

HRESULT TypeLib::FindName(LPOLESTR szNameBuf, ULONG /*lHashVal*/,
                          ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                          USHORT* pcFound) {
  if (szNameBuf == nullptr || ppTInfo == nullptr || rgMemId == nullptr ||
      pcFound == nullptr || *pcFound == 0)
    return E_INVALIDARG;
  const Names& names = NamesIndex();
  const USHORT wanted = *pcFound;
  USHORT found = 0;
  int32_t spelling = kNone;
  for (uint32_t i = names.index.FirstNamed(FoldedName(szNameBuf));
       i != MemberIndex::kEnd && found < wanted; i = names.index.NextNamed(i)) {
    const NameEntry& entry = names.entries[i];
    if (entry.isParam) continue;
    TypeInfo* view = View(entry.type, /*interfaceView=*/false);
    // A property's get and put share one member id: one finding.
    bool again = false;
    for (USHORT f = 0; f < found && !again; ++f)
      again = ppTInfo[f] == view && rgMemId[f] == entry.memid;
    if (again) continue;
    spelling = entry.name;
    ppTInfo[found] = view;
    view->AddRef();
    rgMemId[found] = entry.memid;
    ++found;
  }
  // The spelling of the last finding, as a search that stops there leaves.
  if (spelling != kNone) CopySpelling(m_model->Text(spelling), szNameBuf);
  *pcFound = found;
  return S_OK;
}

void TypeLib::ReleaseTLibAttr(TLIBATTR* pTLibAttr) { CoTaskMemFree(pTLibAttr); }

}  // namespace internal
}  // namespace qxplatform
