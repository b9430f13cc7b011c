// ITypeInfo's structure: attributes, function and variable descriptions,
// implemented interfaces and the types they lead to, and the base chain a
// view inherits members through.
//
// Views of a dual interface:
// - dispatch view (as stored): TKIND_DISPATCH; cFuncs counts the inherited
//   IUnknown and IDispatch functions first, then its own; every function is
//   FUNC_DISPATCH without lcid and retval parameters; cbSizeVft is
//   IDispatch's seven slots; implemented interface 0 is IDispatch, and
//   GetRefTypeOfImplType(-1) gives the vtable view's href.
// - vtable view: TKIND_INTERFACE with the stored functions, offsets and
//   vtable size; its implemented interface 0 is the vtable base.
// GetRefTypeInfo(-1) on either view gives the other.
#include "type_info.h"

#include <objbase.h>

#include "typelib_internal.h"

namespace qxplatform {
namespace internal {
namespace {

// Longer base chains than any real interface has mean a chain that loops.
constexpr int kMaxInheritance = 64;
constexpr WORD kDispatchSlots = 7;

}  // namespace

// {5B1F3C2E-7A64-4E1D-9C0B-3D8E2F6A1B47}
const IID kIidPlatformTypeInfo = {
    0x5B1F3C2E,
    0x7A64,
    0x4E1D,
    {0x9C, 0x0B, 0x3D, 0x8E, 0x2F, 0x6A, 0x1B, 0x47}};

TypeInfo::TypeInfo(TypeLib* lib, size_t index, bool interfaceView)
    : m_lib(lib),
      m_index(index),
      m_interfaceView(interfaceView),
      m_type(lib->model().types[index]) {}

TYPEKIND TypeInfo::Kind() const {
  return m_interfaceView ? TKIND_INTERFACE : m_type.kind;
}

bool TypeInfo::InheritsMembers() const {
  return Kind() == TKIND_INTERFACE || IsDualDispatch();
}

void TypeInfo::FunctionTable::Add(const Member& member) {
  members.push_back(member);
  index.Add(member.owner->model().Text(member.function->name),
            member.function->memid);
}

uint32_t TypeInfo::FunctionTable::FirstWithId(MEMBERID memid,
                                              WORD kinds) const {
  uint32_t i = index.FirstWithId(memid);
  while (i != MemberIndex::kEnd &&
         (members[i].function->invokeKind & kinds) == 0)
    i = index.NextWithId(i);
  return i;
}

const TypeInfo::OwnMembers& TypeInfo::Own() {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_ownReady) {
    for (const Function& function : m_type.functions)
      m_own.functions.Add({m_lib, &function});
    // A vtable view shows no variables: its lookups never reach them.
    if (!m_interfaceView) {
      for (const Variable& variable : m_type.variables)
        m_own.variables.Add(m_lib->model().Text(variable.name), variable.memid);
    }
    m_ownReady = true;
  }
  // Not changed once ready, so it is read without the lock.
  return m_own;
}

HRESULT TypeInfo::Inherited(const FunctionTable** inherited) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_inheritedReady) {
    *inherited = &m_inherited;
    return S_OK;
  }
  std::vector<std::vector<Member>> levels;
  TypeLib* lib = m_lib;
  int64_t href = m_type.base;
  for (int depth = 0; href != kNone; ++depth) {
    if (depth == kMaxInheritance) return TYPE_E_CIRCULARTYPE;
    TypeLib* owner = nullptr;
    size_t index = 0;
    HRESULT hr = lib->ResolveHref(static_cast<HREFTYPE>(href), &owner, &index);
    if (FAILED(hr)) return hr;
    const TypeEntry& base = owner->model().types[index];
    if (base.kind != TKIND_INTERFACE && !base.IsDual())
      return TYPE_E_WRONGTYPEKIND;
    levels.emplace_back();
    for (const Function& function : base.functions)
      levels.back().push_back({owner, &function});
    lib = owner;
    href = base.base;
  }
  // A failure leaves nothing behind, so that a later call tries again.
  FunctionTable table;
  for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
    for (const Member& member : *level) table.Add(member);
  }
  // Types those members name in other libraries get hrefs of this view.
  for (const Member& member : table.members) {
    if (member.owner == m_lib) continue;
    HRESULT hr = RegisterBorrowed(member.owner, member.function->returnType);
    for (const Param& param : member.function->params) {
      if (SUCCEEDED(hr)) hr = RegisterBorrowed(member.owner, param.type);
    }
    if (FAILED(hr)) {
      m_borrowed.clear();
      m_borrowedIds.clear();
      return hr;
    }
  }
  m_inherited = std::move(table);
  m_inheritedReady = true;
  *inherited = &m_inherited;
  return S_OK;
}

HRESULT TypeInfo::RegisterBorrowed(TypeLib* owner, int32_t node) {
  const TypeLibModel& model = owner->model();
  while (node != kNone) {
    const TypeNode& type = model.nodes[static_cast<size_t>(node)];
    if (type.vt == VT_USERDEFINED) {
      auto key = std::make_pair(owner, type.href);
      if (m_borrowedIds.count(key) == 0) {
        if (m_borrowed.size() >= kBorrowedBit) return E_OUTOFMEMORY;
        m_borrowedIds[key] =
            kBorrowedBit | static_cast<HREFTYPE>(m_borrowed.size());
        m_borrowed.push_back(key);
      }
      return S_OK;
    }
    node = type.vt == VT_CARRAY && type.array != kNone
               ? model.arrays[type.array].element
               : type.child;
  }
  return S_OK;
}

HrefMap TypeInfo::HrefsOf(const Member& member) {
  if (member.owner == m_lib) return HrefMap();
  TypeLib* owner = member.owner;
  // Filled before the member could be handed out, and not changed after.
  const auto* ids = &m_borrowedIds;
  return [owner, ids](HREFTYPE href) {
    auto found = ids->find(std::make_pair(owner, href));
    return found == ids->end() ? href : found->second;
  };
}

size_t TypeInfo::SearchedTables(const FunctionTable* tables[2]) {
  size_t count = 0;
  tables[count++] = &Own().functions;
  const FunctionTable* inherited = nullptr;
  // A base that cannot be resolved only hides the members it would add.
  if (InheritsMembers() && SUCCEEDED(Inherited(&inherited)))
    tables[count++] = inherited;
  return count;
}

bool TypeInfo::FindFunction(MEMBERID memid, WORD kinds, Member* found) {
  const FunctionTable* tables[2] = {};
  const size_t count = SearchedTables(tables);
  for (size_t t = 0; t < count; ++t) {
    uint32_t i = tables[t]->FirstWithId(memid, kinds);
    if (i == MemberIndex::kEnd) continue;
    *found = tables[t]->members[i];
    return true;
  }
  return false;
}

// The dispatch view of a dual interface numbers the inherited functions
// first, then its own; every other view only its own.
HRESULT TypeInfo::FunctionCount(UINT* count) {
  size_t total = Own().functions.members.size();
  if (IsDualDispatch()) {
    const FunctionTable* inherited = nullptr;
    HRESULT hr = Inherited(&inherited);
    if (FAILED(hr)) return hr;
    total += inherited->members.size();
  }
  *count = static_cast<UINT>(total);
  return S_OK;
}

HRESULT TypeInfo::FunctionAt(UINT index, Member* member) {
  size_t position = index;
  if (IsDualDispatch()) {
    const FunctionTable* inherited = nullptr;
    HRESULT hr = Inherited(&inherited);
    if (FAILED(hr)) return hr;
    if (position < inherited->members.size()) {
      *member = inherited->members[position];
      return S_OK;
    }
    position -= inherited->members.size();
  }
  const std::vector<Member>& own = Own().functions.members;
  if (position >= own.size()) return TYPE_E_ELEMENTNOTFOUND;
  *member = own[position];
  return S_OK;
}

// ---- IUnknown ---------------------------------------------------------------

HRESULT TypeInfo::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ITypeInfo || riid == IID_ITypeInfo2 ||
      riid == kIidPlatformTypeInfo) {
    *ppv = static_cast<ITypeInfo2*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeInfo::AddRef() { return m_lib->AddRef(); }

ULONG TypeInfo::Release() { return m_lib->Release(); }

// ---- structure --------------------------------------------------------------

HRESULT TypeInfo::GetTypeAttr(TYPEATTR** ppTypeAttr) {
  if (ppTypeAttr == nullptr) return E_INVALIDARG;
  *ppTypeAttr = nullptr;
  const TypeLibModel& model = m_lib->model();
  TypeShape shape;
  shape.kind = Kind();
  shape.cFuncs = static_cast<WORD>(m_type.functions.size());
  shape.cbSizeVft = m_type.cbSizeVft;
  shape.cImplTypes = 0;
  if (m_type.kind == TKIND_COCLASS)
    shape.cImplTypes = static_cast<WORD>(m_type.implTypes.size());
  else if (m_type.base != kNone)
    shape.cImplTypes = 1;
  if (m_type.kind == TKIND_DISPATCH && !m_interfaceView)
    shape.cbSizeVft = static_cast<WORD>(kDispatchSlots * model.PointerSize());
  if (IsDualDispatch()) {
    UINT count = 0;
    HRESULT hr = FunctionCount(&count);
    if (FAILED(hr)) return hr;
    shape.cFuncs = static_cast<WORD>(count);
  }
  return BuildTypeAttr(model, m_type, shape, ppTypeAttr);
}

HRESULT TypeInfo::GetTypeComp(ITypeComp** ppTComp) {
  if (ppTComp == nullptr) return E_INVALIDARG;
  *ppTComp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeInfo::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) {
  if (ppFuncDesc == nullptr) return E_INVALIDARG;
  *ppFuncDesc = nullptr;
  Member member;
  HRESULT hr = FunctionAt(index, &member);
  if (FAILED(hr)) return hr;
  return BuildFuncDesc(member.owner->model(), *member.function,
                       IsDualDispatch(), HrefsOf(member), ppFuncDesc);
}

HRESULT TypeInfo::GetVarDesc(UINT index, VARDESC** ppVarDesc) {
  if (ppVarDesc == nullptr) return E_INVALIDARG;
  *ppVarDesc = nullptr;
  if (m_interfaceView || index >= m_type.variables.size())
    return TYPE_E_ELEMENTNOTFOUND;
  return BuildVarDesc(m_lib->model(), m_type.variables[index], ppVarDesc);
}

HRESULT TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
  if (pRefType == nullptr) return E_INVALIDARG;
  if (index == static_cast<UINT>(-1)) {
    if (!IsDualDispatch()) return TYPE_E_ELEMENTNOTFOUND;
    *pRefType = TypeLib::HrefOf(m_index) | kInterfaceViewBit;
    return S_OK;
  }
  if (m_type.kind == TKIND_COCLASS) {
    if (index >= m_type.implTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pRefType = m_type.implTypes[index].href;
    return S_OK;
  }
  if (index != 0 || m_type.base == kNone) return TYPE_E_ELEMENTNOTFOUND;
  HREFTYPE base = static_cast<HREFTYPE>(m_type.base);
  if (Kind() == TKIND_INTERFACE) {
    // A vtable base that is itself dual is inherited as its vtable view.
    *pRefType = base | kInterfaceViewBit;
  } else if (IsDualDispatch() && m_lib->model().dispatchHref != kNone) {
    *pRefType = static_cast<HREFTYPE>(m_lib->model().dispatchHref);
  } else {
    *pRefType = base;
  }
  return S_OK;
}

HRESULT TypeInfo::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
  if (pImplTypeFlags == nullptr) return E_INVALIDARG;
  if (m_type.kind == TKIND_COCLASS) {
    if (index >= m_type.implTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = m_type.implTypes[index].flags;
    return S_OK;
  }
  if (index != 0 || m_type.base == kNone) return TYPE_E_ELEMENTNOTFOUND;
  *pImplTypeFlags = 0;
  return S_OK;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
  if (ppTInfo == nullptr) return E_INVALIDARG;
  *ppTInfo = nullptr;
  TypeInfo* view = nullptr;
  if (hRefType == static_cast<HREFTYPE>(-1)) {
    if (!m_type.IsDual()) return TYPE_E_ELEMENTNOTFOUND;
    view = m_lib->View(m_index, /*interfaceView=*/!m_interfaceView);
  } else if (hRefType & kBorrowedBit) {
    std::pair<TypeLib*, HREFTYPE> borrowed;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      size_t slot = hRefType & ~kBorrowedBit;
      if (slot >= m_borrowed.size()) return TYPE_E_ELEMENTNOTFOUND;
      borrowed = m_borrowed[slot];
    }
    TypeLib* lib = nullptr;
    size_t index = 0;
    HRESULT hr = borrowed.first->ResolveHref(borrowed.second, &lib, &index);
    if (FAILED(hr)) return hr;
    view = lib->View(index, /*interfaceView=*/false);
  } else {
    TypeLib* lib = nullptr;
    size_t index = 0;
    HRESULT hr =
        m_lib->ResolveHref(hRefType & ~kInterfaceViewBit, &lib, &index);
    if (FAILED(hr)) return hr;
    view = lib->View(index, (hRefType & kInterfaceViewBit) != 0);
  }
  view->AddRef();
  *ppTInfo = view;
  return S_OK;
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
  if (ppTLib == nullptr && pIndex == nullptr) return E_INVALIDARG;
  if (ppTLib != nullptr) {
    m_lib->AddRef();
    *ppTLib = m_lib;
  }
  if (pIndex != nullptr) *pIndex = static_cast<UINT>(m_index);
  return S_OK;
}

void TypeInfo::ReleaseTypeAttr(TYPEATTR* pTypeAttr) { FreeTypeAttr(pTypeAttr); }

void TypeInfo::ReleaseFuncDesc(FUNCDESC* pFuncDesc) { FreeFuncDesc(pFuncDesc); }

void TypeInfo::ReleaseVarDesc(VARDESC* pVarDesc) { FreeVarDesc(pVarDesc); }

// ---- ITypeInfo2: kind and indexes ------------------------------------------

HRESULT TypeInfo::GetTypeKind(TYPEKIND* pTypeKind) {
  if (pTypeKind == nullptr) return E_INVALIDARG;
  *pTypeKind = Kind();
  return S_OK;
}

HRESULT TypeInfo::GetTypeFlags(ULONG* pTypeFlags) {
  if (pTypeFlags == nullptr) return E_INVALIDARG;
  *pTypeFlags = m_type.flags;
  return S_OK;
}

HRESULT TypeInfo::GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind,
                                      UINT* pFuncIndex) {
  if (pFuncIndex == nullptr) return E_INVALIDARG;
  // In the order GetFuncDesc numbers them: inherited first in a dual
  // interface's dispatch view.
  const FunctionTable* tables[2] = {};
  size_t count = 0;
  if (IsDualDispatch()) {
    HRESULT hr = Inherited(&tables[count++]);
    if (FAILED(hr)) return hr;
  }
  tables[count++] = &Own().functions;
  size_t before = 0;
  for (size_t t = 0; t < count; ++t) {
    uint32_t i = tables[t]->FirstWithId(memid, static_cast<WORD>(invKind));
    if (i != MemberIndex::kEnd) {
      *pFuncIndex = static_cast<UINT>(before + i);
      return S_OK;
    }
    before += tables[t]->members.size();
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetVarIndexOfMemId(MEMBERID memid, UINT* pVarIndex) {
  if (pVarIndex == nullptr) return E_INVALIDARG;
  uint32_t found = Own().variables.FirstWithId(memid);
  if (found == MemberIndex::kEnd) return TYPE_E_ELEMENTNOTFOUND;
  *pVarIndex = found;
  return S_OK;
}

}  // namespace internal
}  // namespace qxplatform
