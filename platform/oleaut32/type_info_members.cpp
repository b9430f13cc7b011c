// ITypeInfo's member lookups: names by member id, member ids by name, and
// documentation. Names match without regard to case; a view that inherits
// members finds its bases' members too, its own first. Parameter names
// count in the form the view shows the function, so a dual interface's
// dispatch view knows no retval or lcid parameter.
#include <oleauto.h>

#include <algorithm>

#include "platform_internal.h"
#include "type_info.h"
#include "typelib_internal.h"

namespace qxplatform {
namespace internal {

bool SameName(const std::u16string& a, const OLECHAR* b) {
  size_t i = 0;
  for (; i < a.size(); ++i) {
    if (b[i] == 0 || SimpleUpper(a[i]) != SimpleUpper(b[i])) return false;
  }
  return b[i] == 0;
}

// The texts of a function's name and its parameters' names in the form
// this view shows it, up to the first parameter without a name (the value
// of a property put).
void TypeInfo::NamesOf(const Member& member,
                       std::vector<const std::u16string*>* names) const {
  const Function& function = *member.function;
  const TypeLibModel& model = member.owner->model();
  names->push_back(&model.Text(function.name));
  for (size_t index : VisibleParams(function, IsDualDispatch())) {
    int32_t name = function.params[index].name;
    if (name == kNone) break;
    names->push_back(&model.Text(name));
  }
}

namespace {

// Every kind a function can be: a search by member id alone.
constexpr WORD kAnyInvokeKind = INVOKE_FUNC | INVOKE_PROPERTYGET |
                                INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF;

// At most cMaxNames of the names as BSTRs: all of those, or none and
// E_OUTOFMEMORY.
HRESULT CopyNames(const std::vector<const std::u16string*>& names,
                  BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
  UINT count = 0;
  for (; count < names.size() && count < cMaxNames; ++count) {
    rgBstrNames[count] = SysAllocStringLen(
        names[count]->data(), static_cast<UINT>(names[count]->size()));
    if (rgBstrNames[count] != nullptr) continue;
    while (count > 0) SysFreeString(rgBstrNames[--count]);
    return E_OUTOFMEMORY;
  }
  *pcNames = count;
  return S_OK;
}

}  // namespace

HRESULT TypeInfo::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames,
                           UINT* pcNames) {
  if (rgBstrNames == nullptr || pcNames == nullptr) return E_INVALIDARG;
  *pcNames = 0;
  std::vector<const std::u16string*> names;
  // Of the functions with this id (a property's get and put share one),
  // the first names them.
  Member member{nullptr, nullptr};
  if (FindFunction(memid, kAnyInvokeKind, &member)) {
    NamesOf(member, &names);
  } else {
    uint32_t variable = Own().variables.FirstWithId(memid);
    if (variable != MemberIndex::kEnd)
      names.push_back(&m_lib->model().Text(m_type.variables[variable].name));
  }
  if (names.empty()) return TYPE_E_ELEMENTNOTFOUND;
  return CopyNames(names, rgBstrNames, cMaxNames, pcNames);
}

HRESULT TypeInfo::GetFuncNames(UINT index, BSTR* rgBstrNames, UINT cMaxNames,
                               UINT* pcNames) {
  if (rgBstrNames == nullptr || pcNames == nullptr) return E_INVALIDARG;
  *pcNames = 0;
  Member member;
  HRESULT hr = FunctionAt(index, &member);
  if (FAILED(hr)) return hr;
  std::vector<const std::u16string*> names;
  NamesOf(member, &names);
  return CopyNames(names, rgBstrNames, cMaxNames, pcNames);
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames,
                                MEMBERID* pMemId) {
  CountTypeInfoNameLookup();
  if (rgszNames == nullptr || pMemId == nullptr || cNames == 0)
    return E_INVALIDARG;
  for (UINT i = 0; i < cNames; ++i) {
    if (rgszNames[i] == nullptr) return E_INVALIDARG;
    pMemId[i] = MEMBERID_NIL;
  }
  const bool dispatchForm = IsDualDispatch();
  const std::u16string name = FoldedName(rgszNames[0]);
  bool found = false;
  bool allMatched = false;
  UINT bestMatched = 0;
  std::vector<MEMBERID> ids(cNames, MEMBERID_NIL);
  // Of the functions by that name (a property's get and put), in search
  // order, the one whose parameters match the most names.
  const FunctionTable* tables[2] = {};
  const size_t count = SearchedTables(tables);
  for (size_t t = 0; t < count && !allMatched; ++t) {
    const FunctionTable& table = *tables[t];
    for (uint32_t i = table.index.FirstNamed(name);
         i != MemberIndex::kEnd && !allMatched; i = table.index.NextNamed(i)) {
      const Function& function = *table.members[i].function;
      const TypeLibModel& model = table.members[i].owner->model();
      std::vector<size_t> visible = VisibleParams(function, dispatchForm);
      std::fill(ids.begin(), ids.end(), MEMBERID_NIL);
      ids[0] = function.memid;
      UINT matched = 1;
      for (UINT n = 1; n < cNames; ++n) {
        for (size_t p = 0; p < visible.size(); ++p) {
          int32_t param = function.params[visible[p]].name;
          if (param != kNone && SameName(model.Text(param), rgszNames[n])) {
            ids[n] = static_cast<MEMBERID>(p);
            ++matched;
            break;
          }
        }
      }
      if (!found || matched > bestMatched) {
        std::copy(ids.begin(), ids.end(), pMemId);
        bestMatched = matched;
        found = true;
      }
      allMatched = matched == cNames;
    }
  }
  if (!found) {
    uint32_t variable = Own().variables.FirstNamed(name);
    if (variable != MemberIndex::kEnd) {
      pMemId[0] = m_type.variables[variable].memid;
      found = true;
      bestMatched = 1;
    }
  }
  return found && bestMatched == cNames ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT TypeInfo::DocumentationOf(MEMBERID memid, Documented* documented) {
  *documented = {&m_lib->model(), m_type.name, m_type.docString,
                 m_type.helpContext, m_type.helpStringContext};
  if (memid == MEMBERID_NIL) return S_OK;
  Member member{nullptr, nullptr};
  if (FindFunction(memid, kAnyInvokeKind, &member)) {
    *documented = {&member.owner->model(), member.function->name,
                   member.function->docString, member.function->helpContext,
                   member.function->helpStringContext};
    return S_OK;
  }
  uint32_t found = Own().variables.FirstWithId(memid);
  if (found != MemberIndex::kEnd) {
    const Variable& variable = m_type.variables[found];
    *documented = {&m_lib->model(), variable.name, variable.docString,
                   variable.helpContext, variable.helpStringContext};
    return S_OK;
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetDocumentation(MEMBERID memid, BSTR* pBstrName,
                                   BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                   BSTR* pBstrHelpFile) {
  Documented documented{};
  HRESULT hr = DocumentationOf(memid, &documented);
  if (FAILED(hr)) return hr;
  const TypeLibModel& model = *documented.model;
  hr = CopyTexts({{pBstrName, model.TextOrNull(documented.name)},
                  {pBstrDocString, model.TextOrNull(documented.docString)},
                  {pBstrHelpFile, model.TextOrNull(model.helpFile)}});
  if (SUCCEEDED(hr) && pdwHelpContext != nullptr)
    *pdwHelpContext = documented.helpContext;
  return hr;
}

HRESULT TypeInfo::GetDocumentation2(MEMBERID memid, LCID /*lcid*/,
                                    BSTR* pbstrHelpString,
                                    DWORD* pdwHelpStringContext,
                                    BSTR* pbstrHelpStringDll) {
  Documented documented{};
  HRESULT hr = DocumentationOf(memid, &documented);
  if (FAILED(hr)) return hr;
  const TypeLibModel& model = *documented.model;
  hr = CopyTexts({{pbstrHelpString, model.TextOrNull(documented.docString)},
                  {pbstrHelpStringDll, model.TextOrNull(model.helpStringDll)}});
  if (SUCCEEDED(hr) && pdwHelpStringContext != nullptr)
    *pdwHelpStringContext = documented.helpStringContext;
  return hr;
}

}  // namespace internal
}  // namespace qxplatform
