// Preparing and running a member's call. A plan is only built when every
// step that could fail for the function itself (a type that cannot travel,
// a retval that is no reference, a slot offset off the pointer grid, a
// frame libffi cannot describe) has succeeded, so running it fails only
// for reasons the arguments or the object give, in the order the call
// through a fresh description would report them.
#include "invoke_plan.h"

#include <oleauto.h>
#include <winnls.h>

#include <new>

#include "call_frame.h"
#include "invoke_binding.h"
#include "small_buffer.h"
#include "type_descriptions.h"

namespace qxplatform {
namespace internal {
namespace {

// Parameters most calls fit without touching the heap.
constexpr size_t kLocalParams = 8;

VARTYPE FrameTypeOfShape(const ValueShape& shape) {
  return shape.byRef ? static_cast<VARTYPE>(VT_BYREF | shape.vt) : shape.vt;
}

HRESULT Prepare(ITypeInfo* types, const FUNCDESC& desc,
                const TypeLibModel& model, const Function& function,
                ULONG pointerSize, InvokePlan* plan) {
  if (desc.cParamsOpt < 0) return E_NOTIMPL;
  if (desc.callconv < CC_FASTCALL || desc.callconv >= CC_MAX)
    return E_INVALIDARG;
  const UINT paramCount = static_cast<UINT>(desc.cParams);
  if (paramCount != function.params.size()) return E_UNEXPECTED;
  plan->invkind = desc.invkind;
  plan->model = &model;
  plan->params.resize(paramCount);
  plan->frameTypes.resize(paramCount + 1);
  plan->frameTypes[0] = &ffi_type_pointer;
  for (UINT i = 0; i < paramCount; ++i) {
    const ELEMDESC& element = desc.lprgelemdescParam[i];
    PlannedParam& param = plan->params[i];
    param.flags = element.paramdesc.wParamFlags;
    VARTYPE frameType = VT_I4;
    if ((param.flags & PARAMFLAG_FRETVAL) != 0) {
      plan->retval = i;
      HRESULT hr = ShapeOf(types, element.tdesc, &param.shape);
      if (FAILED(hr)) return hr;
      if (!param.shape.byRef) return DISP_E_BADVARTYPE;
      frameType = FrameTypeOfShape(param.shape);
    } else if ((param.flags & PARAMFLAG_FLCID) != 0) {
      plan->lcids.push_back(i);
    } else {
      plan->visible.push_back(i);
      HRESULT hr = ShapeOf(types, element.tdesc, &param.shape);
      if (FAILED(hr)) return hr;
      frameType = FrameTypeOfShape(param.shape);
      if ((param.flags & PARAMFLAG_FHASDEFAULT) != 0 &&
          function.params[i].hasDefault)
        param.defaultValue = &function.params[i].defaultValue;
    }
    plan->frameTypes[i + 1] = FrameTypeOf(frameType);
    if (plan->frameTypes[i + 1] == nullptr) return DISP_E_BADVARTYPE;
  }
  // A retval flagged as an lcid too is the retval, never an lcid.
  if (plan->retval != InvokePlan::kNoRetval) {
    for (size_t i = 0; i < plan->lcids.size(); ++i) {
      if (plan->lcids[i] != plan->retval) continue;
      plan->lcids.erase(plan->lcids.begin() + static_cast<ptrdiff_t>(i));
      break;
    }
  }

  VARTYPE returnType = desc.elemdescFunc.tdesc.vt;
  if (returnType != VT_HRESULT && returnType != VT_VOID) {
    ValueShape shape;
    HRESULT hr = ShapeOf(types, desc.elemdescFunc.tdesc, &shape);
    if (FAILED(hr)) return hr;
    if (shape.byRef || shape.vt == VT_VARIANT) return DISP_E_BADVARTYPE;
    returnType = shape.vt;
  }
  plan->returnType = returnType;
  ffi_type* resultType =
      returnType == VT_VOID ? &ffi_type_void : FrameTypeOf(returnType);
  if (resultType == nullptr) return DISP_E_BADVARTYPE;

  // oVft counts slots of the library's own system; the call counts ours.
  const ULONG vtableOffset = static_cast<ULONG>(desc.oVft);
  if (pointerSize == 0 || desc.oVft < 0 || vtableOffset % pointerSize != 0)
    return E_INVALIDARG;
  plan->slot = vtableOffset / pointerSize;

  if (ffi_prep_cif(&plan->cif, AbiOf(desc.callconv), paramCount + 1, resultType,
                   plan->frameTypes.data()) != FFI_OK)
    return E_INVALIDARG;
  return S_OK;
}

}  // namespace

std::unique_ptr<InvokePlan> BuildInvokePlan(ITypeInfo* types,
                                            const FUNCDESC& desc,
                                            const TypeLibModel& model,
                                            const Function& function,
                                            ULONG pointerSize) {
  std::unique_ptr<InvokePlan> plan(new (std::nothrow) InvokePlan());
  if (!plan) return nullptr;
  try {
    if (FAILED(Prepare(types, desc, model, function, pointerSize, plan.get())))
      return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return plan;
}

HRESULT RunInvokePlan(const InvokePlan& plan, const InvokeRequest& request) {
  const DISPPARAMS& params = *request.params;
  const UINT visibleCount = static_cast<UINT>(plan.visible.size());
  const UINT paramCount = static_cast<UINT>(plan.params.size());

  // Which rgvarg entry each visible parameter takes.
  const UINT named = params.cNamedArgs;
  const UINT positional = params.cArgs - named;
  if (positional > visibleCount) return DISP_E_BADPARAMCOUNT;
  SmallBuffer<UINT, kLocalParams> sourceOf(visibleCount);
  for (UINT j = 0; j < visibleCount; ++j)
    sourceOf[j] = j < positional ? params.cArgs - 1 - j : kNoArgument;
  const bool isPut =
      (plan.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
  for (UINT i = 0; i < named; ++i) {
    DISPID id = params.rgdispidNamedArgs[i];
    if (id == DISPID_PROPERTYPUT && isPut && visibleCount != 0)
      id = static_cast<DISPID>(visibleCount - 1);
    if (id < 0 || static_cast<UINT>(id) >= visibleCount ||
        sourceOf[id] != kNoArgument) {
      if (request.argErr != nullptr) *request.argErr = i;
      return DISP_E_PARAMNOTFOUND;
    }
    sourceOf[id] = i;
  }

  SmallBuffer<Slot, kLocalParams> slots(paramCount);
  for (UINT j = 0; j < visibleCount; ++j) {
    const PlannedParam& param = plan.params[plan.visible[j]];
    Slot& slot = slots[plan.visible[j]];
    const VARIANT* source =
        sourceOf[j] == kNoArgument ? nullptr : &params.rgvarg[sourceOf[j]];
    if ((source == nullptr || IsMissingMarker(*source)) &&
        param.defaultValue != nullptr) {
      HRESULT hr =
          ConstantToVariant(*plan.model, *param.defaultValue, &slot.defaulted);
      if (FAILED(hr)) return hr;
      source = &slot.defaulted;
    } else if (source == nullptr && (param.flags & PARAMFLAG_FOPT) == 0) {
      // Too few arguments, or a required one skipped over by names.
      return named == 0 ? DISP_E_BADPARAMCOUNT : DISP_E_PARAMNOTOPTIONAL;
    }
    // Only a variant can say that it was left out.
    if (source == nullptr && param.shape.vt != VT_VARIANT)
      return DISP_E_PARAMNOTOPTIONAL;
    HRESULT hr = Bind(param.flags, param.shape, source, &slot);
    if (FAILED(hr)) {
      if (request.argErr != nullptr && sourceOf[j] != kNoArgument)
        *request.argErr = sourceOf[j];
      return hr;
    }
  }
  for (UINT index : plan.lcids) {
    slots[index].frameType = VT_I4;
    slots[index].frame.vt = VT_I4;
    slots[index].frame.lVal = LOCALE_USER_DEFAULT;
  }
  if (plan.retval != InvokePlan::kNoRetval)
    BindResult(plan.params[plan.retval].shape, &slots[plan.retval]);

  void* instance = request.instance;
  void** vtable = *static_cast<void***>(instance);
  if (vtable == nullptr) return E_INVALIDARG;
  void* function = vtable[plan.slot];
  if (function == nullptr) return E_INVALIDARG;
  SmallBuffer<void*, kLocalParams + 1> values(paramCount + 1);
  values[0] = &instance;
  for (UINT i = 0; i < paramCount; ++i) {
    // A variant travels whole; everything else is read from the union.
    Slot& slot = slots[i];
    values[i + 1] = slot.frameType == VT_VARIANT
                        ? static_cast<void*>(&slot.frame)
                        : static_cast<void*>(&slot.frame.llVal);
  }
  FrameResult raw;
  raw.variant = VARIANT{};
  ffi_call(const_cast<ffi_cif*>(&plan.cif), FFI_FN(function), &raw,
           values.data());

  const VARTYPE returnType = plan.returnType;
  if (returnType == VT_HRESULT && FAILED(static_cast<HRESULT>(raw.word))) {
    FillException(static_cast<HRESULT>(raw.word), request.excepInfo);
    return DISP_E_EXCEPTION;
  }
  VARIANT returned;
  VariantInit(&returned);
  if (returnType != VT_HRESULT && returnType != VT_VOID)
    StoreFrameResult(returnType, raw, &returned);
  DeliverResult(
      returnType, &returned,
      plan.retval != InvokePlan::kNoRetval ? &slots[plan.retval] : nullptr,
      request.result);
  return S_OK;
}

}  // namespace internal
}  // namespace qxplatform
