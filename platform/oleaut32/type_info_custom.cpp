// ITypeInfo2's custom data: values the library attaches by GUID to a type,
// its functions, their parameters, its variables and its implemented
// interfaces. A GUID with no value gives an empty VARIANT, as documented.
#include <objbase.h>
#include <oleauto.h>

#include "type_info.h"

namespace qxplatform {
namespace internal {
namespace {

HRESULT FindCustom(const TypeLibModel& model, const CustomList& list,
                   REFGUID guid, VARIANT* value) {
  if (value == nullptr) return E_INVALIDARG;
  for (const CustomEntry& entry : list) {
    if (entry.guid == guid) return ConstantToVariant(model, entry.value, value);
  }
  VariantInit(value);
  return S_OK;
}

HRESULT CopyCustom(const TypeLibModel& model, const CustomList& list,
                   CUSTDATA* data) {
  if (data == nullptr) return E_INVALIDARG;
  data->cCustData = 0;
  data->prgCustData = nullptr;
  if (list.empty()) return S_OK;
  auto* items = static_cast<CUSTDATAITEM*>(
      CoTaskMemAlloc(sizeof(CUSTDATAITEM) * list.size()));
  if (items == nullptr) return E_OUTOFMEMORY;
  for (size_t i = 0; i < list.size(); ++i) {
    items[i].guid = list[i].guid;
    HRESULT hr = ConstantToVariant(model, list[i].value, &items[i].varValue);
    if (FAILED(hr)) {
      while (i > 0) VariantClear(&items[--i].varValue);
      CoTaskMemFree(items);
      return hr;
    }
  }
  data->cCustData = static_cast<DWORD>(list.size());
  data->prgCustData = items;
  return S_OK;
}

const CustomList kNoCustomData;

}  // namespace

const CustomList* TypeInfo::ImplCustom(UINT index) const {
  if (m_type.kind == TKIND_COCLASS)
    return index < m_type.implTypes.size() ? &m_type.implTypes[index].custom
                                           : nullptr;
  return index == 0 && m_type.base != kNone ? &kNoCustomData : nullptr;
}

HRESULT TypeInfo::ParamOf(UINT indexFunc, UINT indexParam,
                          const Param** param) {
  Member member;
  HRESULT hr = FunctionAt(indexFunc, &member);
  if (FAILED(hr)) return hr;
  std::vector<size_t> visible =
      VisibleParams(*member.function, IsDualDispatch());
  if (indexParam >= visible.size()) return TYPE_E_ELEMENTNOTFOUND;
  *param = &member.function->params[visible[indexParam]];
  return S_OK;
}

HRESULT TypeInfo::GetCustData(REFGUID guid, VARIANT* pVarVal) {
  return FindCustom(m_lib->model(), m_type.custom, guid, pVarVal);
}

HRESULT TypeInfo::GetFuncCustData(UINT index, REFGUID guid, VARIANT* pVarVal) {
  Member member;
  HRESULT hr = FunctionAt(index, &member);
  if (FAILED(hr)) return hr;
  return FindCustom(member.owner->model(), member.function->custom, guid,
                    pVarVal);
}

HRESULT TypeInfo::GetParamCustData(UINT indexFunc, UINT indexParam,
                                   REFGUID guid, VARIANT* pVarVal) {
  Member member;
  HRESULT hr = FunctionAt(indexFunc, &member);
  const Param* param = nullptr;
  if (SUCCEEDED(hr)) hr = ParamOf(indexFunc, indexParam, &param);
  if (FAILED(hr)) return hr;
  return FindCustom(member.owner->model(), param->custom, guid, pVarVal);
}

HRESULT TypeInfo::GetVarCustData(UINT index, REFGUID guid, VARIANT* pVarVal) {
  if (m_interfaceView || index >= m_type.variables.size())
    return TYPE_E_ELEMENTNOTFOUND;
  return FindCustom(m_lib->model(), m_type.variables[index].custom, guid,
                    pVarVal);
}

HRESULT TypeInfo::GetImplTypeCustData(UINT index, REFGUID guid,
                                      VARIANT* pVarVal) {
  const CustomList* list = ImplCustom(index);
  if (list == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  return FindCustom(m_lib->model(), *list, guid, pVarVal);
}

HRESULT TypeInfo::GetAllCustData(CUSTDATA* pCustData) {
  return CopyCustom(m_lib->model(), m_type.custom, pCustData);
}

HRESULT TypeInfo::GetAllFuncCustData(UINT index, CUSTDATA* pCustData) {
  Member member;
  HRESULT hr = FunctionAt(index, &member);
  if (FAILED(hr)) return hr;
  return CopyCustom(member.owner->model(), member.function->custom, pCustData);
}

HRESULT TypeInfo::GetAllParamCustData(UINT indexFunc, UINT indexParam,
                                      CUSTDATA* pCustData) {
  Member member;
  HRESULT hr = FunctionAt(indexFunc, &member);
  const Param* param = nullptr;
  if (SUCCEEDED(hr)) hr = ParamOf(indexFunc, indexParam, &param);
  if (FAILED(hr)) return hr;
  return CopyCustom(member.owner->model(), param->custom, pCustData);
}

HRESULT TypeInfo::GetAllVarCustData(UINT index, CUSTDATA* pCustData) {
  if (m_interfaceView || index >= m_type.variables.size())
    return TYPE_E_ELEMENTNOTFOUND;
  return CopyCustom(m_lib->model(), m_type.variables[index].custom, pCustData);
}

HRESULT TypeInfo::GetAllImplTypeCustData(UINT index, CUSTDATA* pCustData) {
  const CustomList* list = ImplCustom(index);
  if (list == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  return CopyCustom(m_lib->model(), *list, pCustData);
}

}  // namespace internal
}  // namespace qxplatform

void WINAPI ClearCustData(LPCUSTDATA pCustData) {
  if (pCustData == nullptr) return;
  for (DWORD i = 0; i < pCustData->cCustData; ++i)
    VariantClear(&pCustData->prgCustData[i].varValue);
  CoTaskMemFree(pCustData->prgCustData);
  pCustData->cCustData = 0;
  pCustData->prgCustData = nullptr;
}
