// Descriptions in one block: the size is counted first (the structure, then
// every nested TYPEDESC, ARRAYDESC and PARAMDESCEX, each piece aligned for
// the VARIANTs it may hold), then the block is filled front to back. A
// client that frees the block frees everything but the BSTRs, which the
// Free functions clear first.
#include "type_descriptions.h"

#include <objbase.h>
#include <oleauto.h>
#include <stddef.h>
#include <string.h>

#include <vector>

#include "variant_types.h"

namespace qxplatform {
namespace internal {
namespace {

constexpr size_t kPieceAlignment = 16;

size_t Piece(size_t bytes) {
  return (bytes + kPieceAlignment - 1) & ~(kPieceAlignment - 1);
}

size_t ArrayDescBytes(const ArrayShape& shape) {
  return offsetof(ARRAYDESC, rgbounds) +
         shape.bounds.size() * sizeof(SAFEARRAYBOUND);
}

// Hands out consecutive pieces of a block sized beforehand.
class Bump {
 public:
  explicit Bump(uint8_t* block) : m_next(block) {}
  void* Take(size_t bytes) {
    void* piece = m_next;
    memset(piece, 0, Piece(bytes));
    m_next += Piece(bytes);
    return piece;
  }
  template <typename T>
  T* Take(size_t count = 1) {
    return static_cast<T*>(Take(sizeof(T) * count));
  }

 private:
  uint8_t* m_next;
};

const TypeNode* NodeAt(const TypeLibModel& model, int32_t index) {
  return index == kNone ? nullptr : &model.nodes[static_cast<size_t>(index)];
}

// Bytes the TYPEDESCs under this one need; the top one lives in its owner.
size_t NestedBytes(const TypeLibModel& model, int32_t index) {
  const TypeNode* node = NodeAt(model, index);
  if (node == nullptr) return 0;
  switch (node->vt) {
    case VT_PTR:
    case VT_SAFEARRAY:
      return Piece(sizeof(TYPEDESC)) + NestedBytes(model, node->child);
    case VT_CARRAY:
      if (node->array == kNone) return 0;
      return Piece(ArrayDescBytes(model.arrays[node->array])) +
             NestedBytes(model, model.arrays[node->array].element);
    default:
      return 0;
  }
}

void FillType(const TypeLibModel& model, int32_t index, const HrefMap& hrefs,
              Bump* bump, TYPEDESC* desc) {
  const TypeNode* node = NodeAt(model, index);
  if (node == nullptr) {
    desc->vt = VT_VOID;
    return;
  }
  desc->vt = node->vt;
  switch (node->vt) {
    case VT_PTR:
    case VT_SAFEARRAY:
      desc->lptdesc = bump->Take<TYPEDESC>();
      FillType(model, node->child, hrefs, bump, desc->lptdesc);
      break;
    case VT_CARRAY: {
      if (node->array == kNone) break;
      const ArrayShape& shape = model.arrays[node->array];
      auto* array = static_cast<ARRAYDESC*>(bump->Take(ArrayDescBytes(shape)));
      array->cDims = static_cast<USHORT>(shape.bounds.size());
      memcpy(array->rgbounds, shape.bounds.data(),
             shape.bounds.size() * sizeof(SAFEARRAYBOUND));
      desc->lpadesc = array;
      FillType(model, shape.element, hrefs, bump, &array->tdescElem);
      break;
    }
    case VT_USERDEFINED:
      desc->hreftype = hrefs ? hrefs(node->href) : node->href;
      break;
    default:
      break;
  }
}

HRESULT Allocate(size_t bytes, uint8_t** block) {
  *block = static_cast<uint8_t*>(CoTaskMemAlloc(bytes));
  return *block == nullptr ? E_OUTOFMEMORY : S_OK;
}

// The retval parameter of a function, or kNone.
int32_t RetvalParam(const Function& function) {
  for (size_t i = 0; i < function.params.size(); ++i) {
    if (function.params[i].flags & PARAMFLAG_FRETVAL)
      return static_cast<int32_t>(i);
  }
  return kNone;
}

// The result type a function shows: in dispatch form an HRESULT gives way
// to what the retval parameter points at, or to nothing.
int32_t ResultType(const TypeLibModel& model, const Function& function,
                   bool dispatchForm, bool* isVoid) {
  *isVoid = false;
  const TypeNode* result = NodeAt(model, function.returnType);
  if (!dispatchForm || result == nullptr || result->vt != VT_HRESULT)
    return function.returnType;
  int32_t retval = RetvalParam(function);
  if (retval == kNone) {
    *isVoid = true;
    return kNone;
  }
  int32_t type = function.params[retval].type;
  const TypeNode* pointer = NodeAt(model, type);
  return pointer != nullptr && pointer->vt == VT_PTR ? pointer->child : type;
}

}  // namespace

std::vector<size_t> VisibleParams(const Function& function, bool dispatchForm) {
  std::vector<size_t> visible;
  for (size_t i = 0; i < function.params.size(); ++i) {
    if (dispatchForm &&
        (function.params[i].flags & (PARAMFLAG_FLCID | PARAMFLAG_FRETVAL)))
      continue;
    visible.push_back(i);
  }
  return visible;
}

HRESULT ConstantToVariant(const TypeLibModel& model, const Constant& value,
                          VARIANT* variant) {
  VariantInit(variant);
  if (ValueFromBits(value.vt, value.bits, variant)) return S_OK;
  switch (value.vt) {
    case VT_BSTR: {
      variant->bstrVal = nullptr;
      if (value.text == kNone) break;  // the null string
      const std::u16string& text = model.Text(value.text);
      variant->bstrVal =
          SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (variant->bstrVal == nullptr) return E_OUTOFMEMORY;
      break;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
      // The only object a library can hold: none.
      variant->punkVal = nullptr;
      break;
    default:
      break;
  }
  variant->vt = value.vt;
  return S_OK;
}

HRESULT BuildTypeAttr(const TypeLibModel& model, const TypeEntry& type,
                      const TypeShape& shape, TYPEATTR** attr) {
  const int32_t alias = type.kind == TKIND_ALIAS ? type.aliasType : kNone;
  uint8_t* block = nullptr;
  HRESULT hr =
      Allocate(Piece(sizeof(TYPEATTR)) + NestedBytes(model, alias), &block);
  if (FAILED(hr)) return hr;
  Bump bump(block);
  TYPEATTR* result = bump.Take<TYPEATTR>();
  result->guid = type.guid;
  result->lcid = model.lcid;
  result->memidConstructor = MEMBERID_NIL;
  result->memidDestructor = MEMBERID_NIL;
  result->cbSizeInstance = type.cbSizeInstance;
  result->typekind = shape.kind;
  result->cFuncs = shape.cFuncs;
  result->cVars = static_cast<WORD>(type.variables.size());
  result->cImplTypes = shape.cImplTypes;
  result->cbSizeVft = shape.cbSizeVft;
  result->cbAlignment = type.alignment;
  result->wTypeFlags = type.flags;
  result->wMajorVerNum = type.majorVersion;
  result->wMinorVerNum = type.minorVersion;
  if (alias != kNone)
    FillType(model, alias, HrefMap(), &bump, &result->tdescAlias);
  *attr = result;
  return S_OK;
}

void FreeTypeAttr(TYPEATTR* attr) { CoTaskMemFree(attr); }

HRESULT BuildFuncDesc(const TypeLibModel& model, const Function& function,
                      bool dispatchForm, const HrefMap& hrefs,
                      FUNCDESC** desc) {
  const std::vector<size_t> visible = VisibleParams(function, dispatchForm);
  bool isVoid = false;
  const int32_t result = ResultType(model, function, dispatchForm, &isVoid);

  size_t bytes = Piece(sizeof(FUNCDESC)) +
                 Piece(sizeof(ELEMDESC) * visible.size()) +
                 NestedBytes(model, result);
  for (size_t index : visible) {
    const Param& param = function.params[index];
    bytes += NestedBytes(model, param.type);
    if (param.hasDefault) bytes += Piece(sizeof(PARAMDESCEX));
  }
  uint8_t* block = nullptr;
  HRESULT hr = Allocate(bytes, &block);
  if (FAILED(hr)) return hr;
  Bump bump(block);
  FUNCDESC* func = bump.Take<FUNCDESC>();
  func->memid = function.memid;
  func->funckind = dispatchForm ? FUNC_DISPATCH : function.funcKind;
  func->invkind = function.invokeKind;
  func->callconv = function.callConv;
  func->cParams = static_cast<SHORT>(visible.size());
  func->cParamsOpt =
      function.cParamsOpt > func->cParams ? func->cParams : function.cParamsOpt;
  func->oVft = function.oVft;
  func->wFuncFlags = function.flags;
  if (isVoid)
    func->elemdescFunc.tdesc.vt = VT_VOID;
  else
    FillType(model, result, hrefs, &bump, &func->elemdescFunc.tdesc);
  if (!visible.empty())
    func->lprgelemdescParam = bump.Take<ELEMDESC>(visible.size());
  for (size_t i = 0; i < visible.size(); ++i) {
    const Param& param = function.params[visible[i]];
    ELEMDESC* element = &func->lprgelemdescParam[i];
    FillType(model, param.type, hrefs, &bump, &element->tdesc);
    element->paramdesc.wParamFlags = param.flags;
  }
  // Defaults last, so that a failing BSTR leaves only earlier ones to clear.
  for (size_t i = 0; i < visible.size(); ++i) {
    const Param& param = function.params[visible[i]];
    if (!param.hasDefault) continue;
    PARAMDESCEX* extra = bump.Take<PARAMDESCEX>();
    extra->cBytes = sizeof(PARAMDESCEX);
    func->lprgelemdescParam[i].paramdesc.pparamdescex = extra;
    hr = ConstantToVariant(model, param.defaultValue, &extra->varDefaultValue);
    if (FAILED(hr)) {
      func->lprgelemdescParam[i].paramdesc.pparamdescex = nullptr;
      FreeFuncDesc(func);
      return hr;
    }
  }
  *desc = func;
  return S_OK;
}

void FreeFuncDesc(FUNCDESC* desc) {
  if (desc == nullptr) return;
  for (SHORT i = 0; i < desc->cParams; ++i) {
    PARAMDESC& param = desc->lprgelemdescParam[i].paramdesc;
    if ((param.wParamFlags & PARAMFLAG_FHASDEFAULT) &&
        param.pparamdescex != nullptr)
      VariantClear(&param.pparamdescex->varDefaultValue);
  }
  CoTaskMemFree(desc);
}

HRESULT BuildVarDesc(const TypeLibModel& model, const Variable& variable,
                     VARDESC** desc) {
  const bool isConst = variable.varKind == VAR_CONST;
  size_t bytes = Piece(sizeof(VARDESC)) + NestedBytes(model, variable.type) +
                 (isConst ? Piece(sizeof(VARIANT)) : 0);
  uint8_t* block = nullptr;
  HRESULT hr = Allocate(bytes, &block);
  if (FAILED(hr)) return hr;
  Bump bump(block);
  VARDESC* var = bump.Take<VARDESC>();
  var->memid = variable.memid;
  var->wVarFlags = variable.flags;
  var->varkind = variable.varKind;
  FillType(model, variable.type, HrefMap(), &bump, &var->elemdescVar.tdesc);
  if (isConst) {
    VARIANT* value = bump.Take<VARIANT>();
    hr = ConstantToVariant(model, variable.value, value);
    if (FAILED(hr)) {
      CoTaskMemFree(block);
      return hr;
    }
    var->lpvarValue = value;
  } else {
    var->oInst = variable.oInst;
  }
  *desc = var;
  return S_OK;
}

void FreeVarDesc(VARDESC* desc) {
  if (desc == nullptr) return;
  if (desc->varkind == VAR_CONST && desc->lpvarValue != nullptr)
    VariantClear(desc->lpvarValue);
  CoTaskMemFree(desc);
}

}  // namespace internal
}  // namespace qxplatform
