// libFuzzer target for the type library reader: arbitrary bytes loaded as a
// type library from memory, and whatever loads walked the way a client
// would: the library's attributes, documentation and name searches, then
// every type in each of its views with every function, parameter, variable,
// implemented interface, referenced type, name, document and custom value.
//
// Besides the sanitizers' checks, a run must end with every task allocator
// block (descriptions, BSTRs, custom data) given back, and every status must
// be a success or one of the runtime's own.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <oleauto.h>
#include <qxplatform/controls.h>

#include <vector>

namespace {

// A type reached from another is walked too, but what it refers to is not
// followed again, so a walk stays quadratic in the library's size.
constexpr int kMaxFollowDepth = 1;
constexpr UINT kMaxNames = 16;

void Check(bool condition) {
  if (!condition) abort();
}

void CheckStatus(HRESULT hr) {
  Check(SUCCEEDED(hr) || hr == TYPE_E_ELEMENTNOTFOUND ||
        hr == TYPE_E_INVDATAREAD || hr == TYPE_E_UNSUPFORMAT ||
        hr == TYPE_E_LIBNOTREGISTERED || hr == TYPE_E_CANTLOADLIBRARY ||
        hr == TYPE_E_WRONGTYPEKIND || hr == TYPE_E_CIRCULARTYPE ||
        hr == TYPE_E_BADMODULEKIND || hr == DISP_E_UNKNOWNNAME ||
        hr == E_NOTIMPL || hr == E_OUTOFMEMORY);
}

void FreeTexts(std::initializer_list<BSTR> texts) {
  for (BSTR text : texts) SysFreeString(text);
}

void WalkType(ITypeInfo* info, int depth);

void Follow(ITypeInfo* info, HREFTYPE href, int depth) {
  if (depth >= kMaxFollowDepth) return;
  ITypeInfo* target = nullptr;
  HRESULT hr = info->GetRefTypeInfo(href, &target);
  CheckStatus(hr);
  if (SUCCEEDED(hr)) {
    WalkType(target, depth + 1);
    target->Release();
  }
}

void FollowTypeDesc(ITypeInfo* info, const TYPEDESC& type, int depth) {
  for (const TYPEDESC* step = &type; step != nullptr;) {
    if (step->vt == VT_USERDEFINED) {
      Follow(info, step->hreftype, depth);
      return;
    }
    if (step->vt == VT_PTR || step->vt == VT_SAFEARRAY)
      step = step->lptdesc;
    else if (step->vt == VT_CARRAY)
      step = &step->lpadesc->tdescElem;
    else
      step = nullptr;
  }
}

void WalkMember(ITypeInfo2* info, MEMBERID memid) {
  BSTR names[kMaxNames] = {};
  UINT count = 0;
  HRESULT hr = info->GetNames(memid, names, kMaxNames, &count);
  CheckStatus(hr);
  if (SUCCEEDED(hr) && count > 0) {
    MEMBERID ids[kMaxNames];
    CheckStatus(info->GetIDsOfNames(names, count, ids));
  }
  for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
  BSTR name = nullptr, doc = nullptr, file = nullptr, dll = nullptr;
  DWORD context = 0;
  CheckStatus(info->GetDocumentation(memid, &name, &doc, &context, &file));
  FreeTexts({name, doc, file});
  doc = nullptr;
  CheckStatus(info->GetDocumentation2(memid, 0, &doc, &context, &dll));
  FreeTexts({doc, dll});
}

void WalkFunctions(ITypeInfo2* info, const TYPEATTR& attr, int depth) {
  for (UINT i = 0; i < attr.cFuncs; ++i) {
    FUNCDESC* func = nullptr;
    HRESULT hr = info->GetFuncDesc(i, &func);
    CheckStatus(hr);
    if (FAILED(hr)) continue;
    FollowTypeDesc(info, func->elemdescFunc.tdesc, depth);
    for (SHORT p = 0; p < func->cParams; ++p) {
      FollowTypeDesc(info, func->lprgelemdescParam[p].tdesc, depth);
      CUSTDATA data;
      CheckStatus(info->GetAllParamCustData(i, p, &data));
      ClearCustData(&data);
    }
    WalkMember(info, func->memid);
    UINT index = 0;
    CheckStatus(info->GetFuncIndexOfMemId(func->memid, func->invkind, &index));
    CUSTDATA data;
    CheckStatus(info->GetAllFuncCustData(i, &data));
    ClearCustData(&data);
    info->ReleaseFuncDesc(func);
  }
}

void WalkVariables(ITypeInfo2* info, const TYPEATTR& attr, int depth) {
  for (UINT i = 0; i < attr.cVars; ++i) {
    VARDESC* var = nullptr;
    HRESULT hr = info->GetVarDesc(i, &var);
    CheckStatus(hr);
    if (FAILED(hr)) continue;
    FollowTypeDesc(info, var->elemdescVar.tdesc, depth);
    WalkMember(info, var->memid);
    CUSTDATA data;
    CheckStatus(info->GetAllVarCustData(i, &data));
    ClearCustData(&data);
    info->ReleaseVarDesc(var);
  }
}

void WalkType(ITypeInfo* plain, int depth) {
  ITypeInfo2* info = nullptr;
  Check(SUCCEEDED(
      plain->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&info))));
  TYPEATTR* attr = nullptr;
  HRESULT hr = info->GetTypeAttr(&attr);
  CheckStatus(hr);
  if (SUCCEEDED(hr)) {
    WalkMember(info, MEMBERID_NIL);
    if (attr->typekind == TKIND_ALIAS)
      FollowTypeDesc(info, attr->tdescAlias, depth);
    WalkFunctions(info, *attr, depth);
    WalkVariables(info, *attr, depth);
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
      HREFTYPE href = 0;
      INT flags = 0;
      hr = info->GetRefTypeOfImplType(i, &href);
      CheckStatus(hr);
      CheckStatus(info->GetImplTypeFlags(i, &flags));
      if (SUCCEEDED(hr)) Follow(info, href, depth);
    }
    HREFTYPE vtable = 0;
    if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable)))
      Follow(info, vtable, depth);
    CUSTDATA data;
    CheckStatus(info->GetAllCustData(&data));
    ClearCustData(&data);
    info->ReleaseTypeAttr(attr);
  }
  info->Release();
}

void WalkLibrary(ITypeLib* lib) {
  TLIBATTR* attr = nullptr;
  Check(SUCCEEDED(lib->GetLibAttr(&attr)));
  lib->ReleaseTLibAttr(attr);
  const UINT count = lib->GetTypeInfoCount();
  for (INT index = -1; index < static_cast<INT>(count); ++index) {
    BSTR name = nullptr, doc = nullptr, file = nullptr;
    DWORD context = 0;
    CheckStatus(lib->GetDocumentation(index, &name, &doc, &context, &file));
    if (name != nullptr && SysStringLen(name) > 0) {
      std::vector<OLECHAR> buffer(name, name + SysStringLen(name) + 1);
      BOOL found = FALSE;
      CheckStatus(lib->IsName(buffer.data(), 0, &found));
      ITypeInfo* infos[4] = {};
      MEMBERID ids[4];
      USHORT wanted = 4;
      CheckStatus(lib->FindName(buffer.data(), 0, infos, ids, &wanted));
      for (USHORT i = 0; i < wanted; ++i) infos[i]->Release();
    }
    FreeTexts({name, doc, file});
    if (index < 0) continue;
    ITypeInfo* info = nullptr;
    Check(SUCCEEDED(lib->GetTypeInfo(index, &info)));
    WalkType(info, 0);
    info->Release();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ITypeLib* lib = nullptr;
  HRESULT hr = qxplatform::LoadTypeLibFromMemory(data, size, &lib);
  CheckStatus(hr);
  if (SUCCEEDED(hr)) {
    WalkLibrary(lib);
    Check(lib->Release() == 0);
  }
  Check(qxplatform::LiveTaskBlocks() == 0);
  return 0;
}
