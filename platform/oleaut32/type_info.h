// ITypeInfo2 for one view of one type of a library. Most types have one
// view, the type as stored. A dual interface has two: the dispatch view
// (TKIND_DISPATCH, what the library lists) shows IUnknown's and IDispatch's
// members and then its own, all as dispatch members; its vtable view
// (TKIND_INTERFACE) shows its own vtable functions as stored.
#pragma once
#include <oaidl.h>

#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "invoke_plan_cache.h"
#include "member_index.h"
#include "type_descriptions.h"
#include "type_lib.h"

namespace qxplatform {
namespace internal {

// Not an interface: QueryInterface for it gives the platform's own
// TypeInfo behind an ITypeInfo (one reference), so that the platform's
// controls can reach what the interfaces do not offer. Any other type
// information answers E_NOINTERFACE.
extern const IID kIidPlatformTypeInfo;

class TypeInfo final : public ITypeInfo2 {
 public:
  TypeInfo(TypeLib* lib, size_t index, bool interfaceView);

  // IUnknown: the library's count.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ITypeInfo
  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override;
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index,
                                        FUNCDESC** ppFuncDesc) override;
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index,
                                       VARDESC** ppVarDesc) override;
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* rgBstrNames,
                                     UINT cMaxNames, UINT* pcNames) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index,
                                                 HREFTYPE* pRefType) override;
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index,
                                             INT* pImplTypeFlags) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames,
                                          MEMBERID* pMemId) override;
  HRESULT STDMETHODCALLTYPE Invoke(PVOID pvInstance, MEMBERID memid,
                                   WORD wFlags, DISPPARAMS* pDispParams,
                                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                   UINT* puArgErr) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName,
                                             BSTR* pBstrDocString,
                                             DWORD* pdwHelpContext,
                                             BSTR* pBstrHelpFile) override;
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID memid, INVOKEKIND invKind,
                                        BSTR* pBstrDllName, BSTR* pBstrName,
                                        WORD* pwOrdinal) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType,
                                           ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID memid, INVOKEKIND invKind,
                                            PVOID* ppv) override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                           PVOID* ppvObj) override;
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID memid, BSTR* pBstrMops) override;
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** ppTLib,
                                                 UINT* pIndex) override;
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* pTypeAttr) override;
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* pFuncDesc) override;
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* pVarDesc) override;

  // ITypeInfo2
  HRESULT STDMETHODCALLTYPE GetTypeKind(TYPEKIND* pTypeKind) override;
  HRESULT STDMETHODCALLTYPE GetTypeFlags(ULONG* pTypeFlags) override;
  HRESULT STDMETHODCALLTYPE GetFuncIndexOfMemId(MEMBERID memid,
                                                INVOKEKIND invKind,
                                                UINT* pFuncIndex) override;
  HRESULT STDMETHODCALLTYPE GetVarIndexOfMemId(MEMBERID memid,
                                               UINT* pVarIndex) override;
  HRESULT STDMETHODCALLTYPE GetCustData(REFGUID guid,
                                        VARIANT* pVarVal) override;
  HRESULT STDMETHODCALLTYPE GetFuncCustData(UINT index, REFGUID guid,
                                            VARIANT* pVarVal) override;
  HRESULT STDMETHODCALLTYPE GetParamCustData(UINT indexFunc, UINT indexParam,
                                             REFGUID guid,
                                             VARIANT* pVarVal) override;
  HRESULT STDMETHODCALLTYPE GetVarCustData(UINT index, REFGUID guid,
                                           VARIANT* pVarVal) override;
  HRESULT STDMETHODCALLTYPE GetImplTypeCustData(UINT index, REFGUID guid,
                                                VARIANT* pVarVal) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation2(
      MEMBERID memid, LCID lcid, BSTR* pbstrHelpString,
      DWORD* pdwHelpStringContext, BSTR* pbstrHelpStringDll) override;
  HRESULT STDMETHODCALLTYPE GetAllCustData(CUSTDATA* pCustData) override;
  HRESULT STDMETHODCALLTYPE GetAllFuncCustData(UINT index,
                                               CUSTDATA* pCustData) override;
  HRESULT STDMETHODCALLTYPE GetAllParamCustData(UINT indexFunc, UINT indexParam,
                                                CUSTDATA* pCustData) override;
  HRESULT STDMETHODCALLTYPE GetAllVarCustData(UINT index,
                                              CUSTDATA* pCustData) override;
  HRESULT STDMETHODCALLTYPE
  GetAllImplTypeCustData(UINT index, CUSTDATA* pCustData) override;

  // What a name search of the library sees of this view.
  const TypeEntry& type() const { return m_type; }

  // GetNames for function index as GetFuncDesc numbers it: its name, then
  // its parameters' names, up to the first without one. GetNames takes a
  // member id, which a property's get and put share, so it can name only
  // one of them; this names each. Reached through kIidPlatformTypeInfo.
  HRESULT GetFuncNames(UINT index, BSTR* rgBstrNames, UINT cMaxNames,
                       UINT* pcNames);

 private:
  // A function as some view shows it, with the library it is read from.
  struct Member {
    TypeLib* owner;
    const Function* function;
  };

  // Functions in one order, with the index that finds them by name and by
  // member id in that order.
  struct FunctionTable {
    std::vector<Member> members;
    MemberIndex index;
    void Add(const Member& member);
    // The position of the first with memid and an invoke kind among
    // kinds, or MemberIndex::kEnd.
    uint32_t FirstWithId(MEMBERID memid, WORD kinds) const;
  };
  // The type's own functions, and its variables (none in a vtable view),
  // as stored.
  struct OwnMembers {
    FunctionTable functions;
    MemberIndex variables;
  };

  TYPEKIND Kind() const;
  // The dispatch view of a dual interface.
  bool IsDualDispatch() const { return m_type.IsDual() && !m_interfaceView; }
  // Views whose members include those of their base interfaces.
  bool InheritsMembers() const;
  // Indexed on first use; a view's lookups all go through these, so that
  // none of them costs time in the number of members.
  const OwnMembers& Own();
  // The functions of the base interfaces, from the root down, resolved on
  // first use.
  HRESULT Inherited(const FunctionTable** inherited);
  // The tables a name or member id is looked for in, in order (own
  // functions, then inherited ones where they can be resolved); how many.
  size_t SearchedTables(const FunctionTable* tables[2]);
  // The first function in that order with memid and an invoke kind among
  // kinds.
  bool FindFunction(MEMBERID memid, WORD kinds, Member* found);
  // How many functions GetFuncDesc numbers, and one of them by index.
  HRESULT FunctionCount(UINT* count);
  HRESULT FunctionAt(UINT index, Member* member);
  void NamesOf(const Member& member,
               std::vector<const std::u16string*>* names) const;
  // The texts that document this type (MEMBERID_NIL) or one of its members.
  struct Documented {
    const TypeLibModel* model;
    int32_t name;
    int32_t docString;
    DWORD helpContext;
    DWORD helpStringContext;
  };
  // TYPE_E_ELEMENTNOTFOUND when no function or variable has memid.
  HRESULT DocumentationOf(MEMBERID memid, Documented* documented);
  HrefMap HrefsOf(const Member& member);
  HRESULT RegisterBorrowed(TypeLib* owner, int32_t node);
  const CustomList* ImplCustom(UINT index) const;
  HRESULT ParamOf(UINT indexFunc, UINT indexParam, const Param** param);

  TypeLib* m_lib;
  const size_t m_index;
  const bool m_interfaceView;
  const TypeEntry& m_type;

  std::mutex m_lock;
  bool m_ownReady = false;
  OwnMembers m_own;
  bool m_inheritedReady = false;
  FunctionTable m_inherited;
  // Hrefs minted for types named by members inherited from another library.
  std::vector<std::pair<TypeLib*, HREFTYPE>> m_borrowed;
  std::map<std::pair<TypeLib*, HREFTYPE>, HREFTYPE> m_borrowedIds;
  // Invoke's calls, prepared on first use of each member and kind.
  InvokePlanCache m_plans;
};

}  // namespace internal
}  // namespace qxplatform
