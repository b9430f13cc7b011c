// ITypeInfo's calls into objects and modules. Invoke is where a dispatch
// call becomes a vtable call (for a dual interface, slot oVft / pointer
// size of the object, with the retval argument pointing at the result);
// that call bridge is not built yet, so Invoke reports E_NOTIMPL. Module
// entry points and class creation are not offered either: modules answer
// E_NOTIMPL, other kinds the runtime's wrong-kind status.
#include <oleauto.h>

#include "type_info.h"

namespace qxplatform {
namespace internal {

HRESULT TypeInfo::Invoke(PVOID /*pvInstance*/, MEMBERID /*memid*/,
                         WORD /*wFlags*/, DISPPARAMS* /*pDispParams*/,
                         VARIANT* /*pVarResult*/, EXCEPINFO* /*pExcepInfo*/,
                         UINT* /*puArgErr*/) {
  return E_NOTIMPL;
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
