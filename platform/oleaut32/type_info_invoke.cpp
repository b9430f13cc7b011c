// ITypeInfo's calls into objects and modules. Invoke makes a dispatch call
// a vtable call: the member is looked up in the vtable view (for a dual
// interface's dispatch view, the view GetRefTypeOfImplType(-1) leads to),
// its own functions before inherited ones, as the first whose kind wFlags
// names: DISPATCH_METHOD finds methods, DISPATCH_PROPERTYGET property gets,
// both together either (as a caller that uses a method's result asks);
// DISPATCH_PROPERTYGET alone does not call a method. A plain dispatch
// interface has no vtable to call through: its objects' own IDispatch
// serves it, and Invoke answers E_NOTIMPL. Module entry points and class
// creation are not offered either: modules answer E_NOTIMPL, other kinds
// the runtime's wrong-kind status.
#include <oleauto.h>

#include "invoke_plan.h"
#include "type_info.h"

namespace qxplatform {
namespace internal {

HRESULT TypeInfo::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags,
                         DISPPARAMS* pDispParams, VARIANT* pVarResult,
                         EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  if (pvInstance == nullptr || pDispParams == nullptr) return E_INVALIDARG;
  const DISPPARAMS& params = *pDispParams;
  if (params.cNamedArgs > params.cArgs ||
      (params.cArgs != 0 && params.rgvarg == nullptr) ||
      (params.cNamedArgs != 0 && params.rgdispidNamedArgs == nullptr))
    return E_INVALIDARG;
  if (Kind() == TKIND_DISPATCH && !IsDualDispatch()) return E_NOTIMPL;
  if (Kind() != TKIND_INTERFACE && !IsDualDispatch())
    return DISP_E_MEMBERNOTFOUND;

  InvokeRequest request{pvInstance, wFlags,     pDispParams,
                        pVarResult, pExcepInfo, puArgErr};
  const InvokePlan* plan = m_plans.Find(memid, wFlags);
  if (plan != nullptr) return RunInvokePlan(*plan, request);

  TypeInfo* vtable =
      IsDualDispatch() ? m_lib->View(m_index, /*interfaceView=*/true) : this;
  Member found{nullptr, nullptr};
  if (!vtable->FindFunction(memid, wFlags, &found))
    return DISP_E_MEMBERNOTFOUND;

  FUNCDESC* desc = nullptr;
  HRESULT hr =
      BuildFuncDesc(found.owner->model(), *found.function,
                    /*dispatchForm=*/false, vtable->HrefsOf(found), &desc);
  if (FAILED(hr)) return hr;
  std::unique_ptr<InvokePlan> built =
      BuildInvokePlan(vtable, *desc, found.owner->model(), *found.function,
                      found.owner->model().PointerSize());
  FreeFuncDesc(desc);
  if (!built) return E_OUTOFMEMORY;
  // A plan that failed for lack of memory answers this call only.
  if (!built->Reusable()) return RunInvokePlan(*built, request);
  return RunInvokePlan(*m_plans.Publish(memid, wFlags, std::move(built)),
                       request);
}

HRESULT TypeInfo::GetDllEntry(MEMBERID /*memid*/, INVOKEKIND /*invKind*/,
                              BSTR* pBstrDllName, BSTR* pBstrName,
                              WORD* pwOrdinal) {
  if (pBstrDllName != nullptr) *pBstrDllName = nullptr;
  if (pBstrName != nullptr) *pBstrName = nullptr;
  if (pwOrdinal != nullptr) *pwOrdinal = 0;
  return Kind() == TKIND_MODULE ? E_NOTIMPL : TYPE_E_BADMODULEKIND;
}

HRESULT TypeInfo::AddressOfMember(MEMBERID /*memid*/, INVOKEKIND /*invKind*/,
                                  PVOID* ppv) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  return Kind() == TKIND_MODULE ? E_NOTIMPL : TYPE_E_BADMODULEKIND;
}

HRESULT TypeInfo::CreateInstance(IUnknown* /*pUnkOuter*/, REFIID /*riid*/,
                                 PVOID* ppvObj) {
  if (ppvObj == nullptr) return E_INVALIDARG;
  *ppvObj = nullptr;
  return Kind() == TKIND_COCLASS ? E_NOTIMPL : TYPE_E_WRONGTYPEKIND;
}

HRESULT TypeInfo::GetMops(MEMBERID /*memid*/, BSTR* pBstrMops) {
  if (pBstrMops == nullptr) return E_INVALIDARG;
  *pBstrMops = nullptr;  // the runtime keeps no mops
  return S_OK;
}

}  // namespace internal
}  // namespace qxplatform
