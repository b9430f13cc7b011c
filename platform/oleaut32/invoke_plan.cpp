// Preparing and running a member's call. Preparing stops at the first step
// that fails for the function itself and notes where a call meets it:
// binding a parameter whose type cannot travel fails at that parameter,
// after the arguments before it; what concerns the call as a whole (the
// retval, the result type, the slot, the calling convention and the frame)
// fails once every argument is bound. The checks run in that order, so a
// call fails as it would had it been bound step by step from the
// description.
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

void Fail(InvokePlan* plan, InvokePlan::Failure where, HRESULT status) {
  plan->failure = where;
  plan->failureStatus = status;
}

// The parameters' roles: the visible ones in order, the lcids, the retval.
void Partition(const FUNCDESC& desc, UINT paramCount, InvokePlan* plan) {
  for (UINT i = 0; i < paramCount; ++i) {
    const USHORT flags = desc.lprgelemdescParam[i].paramdesc.wParamFlags;
    plan->params[i].flags = flags;
    if ((flags & PARAMFLAG_FRETVAL) != 0)
      plan->retval = i;
    else if ((flags & PARAMFLAG_FLCID) != 0)
      plan->lcids.push_back(i);
    else
      plan->visible.push_back(i);
  }
  // A retval flagged as an lcid too is the retval, never an lcid.
  if (plan->retval != InvokePlan::kNoRetval) {
    for (size_t i = 0; i < plan->lcids.size(); ++i) {
      if (plan->lcids[i] != plan->retval) continue;
      plan->lcids.erase(plan->lcids.begin() + static_cast<ptrdiff_t>(i));
      break;
    }
  }
}

// What concerns the call as a whole, once its parameters have shapes.
HRESULT PrepareCall(ITypeInfo* types, const FUNCDESC& desc, ULONG pointerSize,
                    InvokePlan* plan) {
  const UINT paramCount = static_cast<UINT>(plan->params.size());
  if (plan->retval != InvokePlan::kNoRetval) {
    ValueShape& shape = plan->params[plan->retval].shape;
    HRESULT hr =
        ShapeOf(types, desc.lprgelemdescParam[plan->retval].tdesc, &shape);
    if (FAILED(hr)) return hr;
    if (!shape.byRef) return DISP_E_BADVARTYPE;
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

  // oVft counts slots of the library's own system; the call counts ours.
  const ULONG vtableOffset = static_cast<ULONG>(desc.oVft);
  if (pointerSize == 0 || desc.oVft < 0 || vtableOffset % pointerSize != 0)
    return E_INVALIDARG;
  plan->slot = vtableOffset / pointerSize;
  if (desc.callconv < CC_FASTCALL || desc.callconv >= CC_MAX)
    return E_INVALIDARG;

  plan->frameTypes.resize(paramCount + 1);
  plan->frameTypes[0] = &ffi_type_pointer;
  for (UINT i = 0; i < paramCount; ++i) {
    const PlannedParam& param = plan->params[i];
    const bool shaped = (param.flags & PARAMFLAG_FRETVAL) != 0 ||
                        (param.flags & PARAMFLAG_FLCID) == 0;
    plan->frameTypes[i + 1] =
        FrameTypeOf(shaped ? FrameTypeOfShape(param.shape) : VARTYPE{VT_I4});
    if (plan->frameTypes[i + 1] == nullptr) return DISP_E_BADVARTYPE;
  }
  ffi_type* resultType =
      returnType == VT_VOID ? &ffi_type_void : FrameTypeOf(returnType);
  if (resultType == nullptr) return DISP_E_BADVARTYPE;
  if (ffi_prep_cif(&plan->cif, AbiOf(desc.callconv), paramCount + 1, resultType,
                   plan->frameTypes.data()) != FFI_OK)
    return E_INVALIDARG;
  return S_OK;
}

void Prepare(ITypeInfo* types, const FUNCDESC& desc, const TypeLibModel& model,
             const Function& function, ULONG pointerSize, InvokePlan* plan) {
  plan->invkind = desc.invkind;
  plan->model = &model;
  // A vararg function takes its last arguments as a safe array, which the
  // platform does not provide.
  if (desc.cParamsOpt < 0)
    return Fail(plan, InvokePlan::Failure::kBeforeArguments, E_NOTIMPL);
  const UINT paramCount = static_cast<UINT>(desc.cParams);
  if (paramCount != function.params.size())
    return Fail(plan, InvokePlan::Failure::kBeforeArguments, E_UNEXPECTED);
  plan->params.resize(paramCount);
  Partition(desc, paramCount, plan);

  for (UINT j = 0; j < plan->visible.size(); ++j) {
    const UINT i = plan->visible[j];
    PlannedParam& param = plan->params[i];
    if ((param.flags & PARAMFLAG_FHASDEFAULT) != 0 &&
        function.params[i].hasDefault)
      param.defaultValue = &function.params[i].defaultValue;
    HRESULT hr = ShapeOf(types, desc.lprgelemdescParam[i].tdesc, &param.shape);
    if (FAILED(hr)) {
      plan->failedParam = j;
      return Fail(plan, InvokePlan::Failure::kAtParameter, hr);
    }
  }
  HRESULT hr = PrepareCall(types, desc, pointerSize, plan);
  if (FAILED(hr)) Fail(plan, InvokePlan::Failure::kAfterArguments, hr);
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
    Prepare(types, desc, model, function, pointerSize, plan.get());
  } catch (const std::bad_alloc&) {
    Fail(plan.get(), InvokePlan::Failure::kBeforeArguments, E_OUTOFMEMORY);
  }
  return plan;
}

namespace {

using ArgumentSources = SmallBuffer<UINT, kLocalParams>;
using ParamSlots = SmallBuffer<Slot, kLocalParams>;

// Which rgvarg entry each visible parameter takes: positional arguments in
// order, then the named ones by their member ids (a property put's value by
// DISPID_PROPERTYPUT); kNoArgument where the caller gave none.
HRESULT MatchArguments(const InvokePlan& plan, const InvokeRequest& request,
                       ArgumentSources* sourceOf) {
  const DISPPARAMS& params = *request.params;
  const UINT visibleCount = static_cast<UINT>(plan.visible.size());
  const UINT named = params.cNamedArgs;
  const UINT positional = params.cArgs - named;
  if (positional > visibleCount) return DISP_E_BADPARAMCOUNT;
  for (UINT j = 0; j < visibleCount; ++j)
    (*sourceOf)[j] = j < positional ? params.cArgs - 1 - j : kNoArgument;
  const bool isPut =
      (plan.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
  for (UINT i = 0; i < named; ++i) {
    DISPID id = params.rgdispidNamedArgs[i];
    if (id == DISPID_PROPERTYPUT && isPut && visibleCount != 0)
      id = static_cast<DISPID>(visibleCount - 1);
    if (id < 0 || static_cast<UINT>(id) >= visibleCount ||
        (*sourceOf)[id] != kNoArgument) {
      if (request.argErr != nullptr) *request.argErr = i;
      return DISP_E_PARAMNOTFOUND;
    }
    (*sourceOf)[id] = i;
  }
  return S_OK;
}

// Binds each visible parameter to its argument, its default or nothing, up
// to the one the plan could not prepare (whose status is then the call's);
// *argErr names the argument that failed.
HRESULT BindArguments(const InvokePlan& plan, const InvokeRequest& request,
                      ArgumentSources& sourceOf, ParamSlots* slots) {
  const DISPPARAMS& params = *request.params;
  const UINT named = params.cNamedArgs;
  const bool planFailsAtParameter =
      plan.failure == InvokePlan::Failure::kAtParameter;
  const UINT bound = planFailsAtParameter
                         ? plan.failedParam + 1
                         : static_cast<UINT>(plan.visible.size());
  for (UINT j = 0; j < bound; ++j) {
    const PlannedParam& param = plan.params[plan.visible[j]];
    Slot& slot = (*slots)[plan.visible[j]];
    const VARIANT* source =
        sourceOf[j] == kNoArgument ? nullptr : &params.rgvarg[sourceOf[j]];
    const bool omitted = source == nullptr || IsMissingMarker(*source);
    if (j == plan.failedParam && planFailsAtParameter) {
      // Its default or an argument stands in for it, but it cannot travel.
      if (source == nullptr && param.defaultValue == nullptr &&
          (param.flags & PARAMFLAG_FOPT) == 0)
        return named == 0 ? DISP_E_BADPARAMCOUNT : DISP_E_PARAMNOTOPTIONAL;
      if (request.argErr != nullptr && sourceOf[j] != kNoArgument)
        *request.argErr = sourceOf[j];
      return plan.failureStatus;
    }
    if (omitted && param.defaultValue != nullptr) {
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
  return S_OK;
}

// Calls the method through the instance's vtable with the bound slots and
// hands its result (or its failure, as an exception) to the caller.
HRESULT CallThroughVtable(const InvokePlan& plan, const InvokeRequest& request,
                          ParamSlots& slots) {
  const UINT paramCount = static_cast<UINT>(plan.params.size());
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

}  // namespace

HRESULT RunInvokePlan(const InvokePlan& plan, const InvokeRequest& request) {
  if (plan.failure == InvokePlan::Failure::kBeforeArguments)
    return plan.failureStatus;
  ArgumentSources sourceOf(plan.visible.size());
  HRESULT hr = MatchArguments(plan, request, &sourceOf);
  if (FAILED(hr)) return hr;
  ParamSlots slots(plan.params.size());
  hr = BindArguments(plan, request, sourceOf, &slots);
  if (FAILED(hr)) return hr;
  if (plan.failure == InvokePlan::Failure::kAfterArguments)
    return plan.failureStatus;
  for (UINT index : plan.lcids) {
    slots[index].frameType = VT_I4;
    slots[index].frame.vt = VT_I4;
    slots[index].frame.lVal = LOCALE_USER_DEFAULT;
  }
  if (plan.retval != InvokePlan::kNoRetval)
    BindResult(plan.params[plan.retval].shape, &slots[plan.retval]);
  return CallThroughVtable(plan, request, slots);
}

}  // namespace internal
}  // namespace qxplatform
