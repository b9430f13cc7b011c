// The descriptions ITypeInfo hands out (TYPEATTR, FUNCDESC, VARDESC), each
// built as one task-allocator block that its Release function frees whole;
// only BSTRs inside VARIANTs live apart, and are cleared first.
#pragma once
#include <oaidl.h>

#include <functional>

#include "type_model.h"

namespace qxplatform {
namespace internal {

// Translates an href of the model a description comes from into the one
// the caller's type info answers to.
typedef std::function<HREFTYPE(HREFTYPE)> HrefMap;

// What the view presenting a type reports besides the stored record.
struct TypeShape {
  TYPEKIND kind;
  WORD cFuncs;
  WORD cImplTypes;
  WORD cbSizeVft;
};

HRESULT BuildTypeAttr(const TypeLibModel& model, const TypeEntry& type,
                      const TypeShape& shape, TYPEATTR** attr);
void FreeTypeAttr(TYPEATTR* attr);

// dispatchForm: the function as a dispatch view of a dual interface shows
// it: FUNC_DISPATCH, without lcid and retval parameters, the retval's
// pointee (or void) as the result instead of the HRESULT.
HRESULT BuildFuncDesc(const TypeLibModel& model, const Function& function,
                      bool dispatchForm, const HrefMap& hrefs, FUNCDESC** desc);
void FreeFuncDesc(FUNCDESC* desc);

HRESULT BuildVarDesc(const TypeLibModel& model, const Variable& variable,
                     VARDESC** desc);
void FreeVarDesc(VARDESC* desc);

// The parameters a function shows in the given form, as indexes into
// function.params.
std::vector<size_t> VisibleParams(const Function& function, bool dispatchForm);

// A stored value as a VARIANT (a BSTR is allocated): S_OK or E_OUTOFMEMORY.
HRESULT ConstantToVariant(const TypeLibModel& model, const Constant& value,
                          VARIANT* variant);

}  // namespace internal
}  // namespace qxplatform
