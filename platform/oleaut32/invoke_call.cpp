// Binding DISPPARAMS to a vtable function. rgvarg holds the arguments last
// first, the named ones (rgdispidNamedArgs, parameter positions; or
// DISPID_PROPERTYPUT, the value of a property put) at its front. lcid and
// retval parameters are not arguments: the first gets the user's locale,
// the second a slot whose value becomes the result. An omitted parameter
// with a default gets it, an omitted optional one VT_ERROR
// DISP_E_PARAMNOTFOUND (as does one passed that way); others are required.
// Every argument is coerced to its parameter's type into a slot this call
// owns and clears; a reference of the parameter's own type is passed on as
// it is, so the callee writes through to the caller.
#include "invoke_call.h"

#include <oleauto.h>
#include <winnls.h>

#include <vector>

#include "invoke_binding.h"
#include "invoke_types.h"

namespace qxplatform {
namespace internal {
namespace {

class SlotList {
 public:
  explicit SlotList(size_t count) : m_slots(count) {}
  Slot& operator[](size_t index) { return m_slots[index]; }
  size_t size() const { return m_slots.size(); }

 private:
  std::vector<Slot> m_slots;
};

}  // namespace

HRESULT InvokeFunction(ITypeInfo* types, const FUNCDESC& desc,
                       ULONG pointerSize, const InvokeRequest& request) {
  const DISPPARAMS& params = *request.params;
  // A vararg function takes its last arguments as a safe array, which the
  // platform does not provide.
  if (desc.cParamsOpt < 0) return E_NOTIMPL;
  const UINT paramCount = static_cast<UINT>(desc.cParams);
  std::vector<UINT> visible;
  UINT retval = kNoArgument;
  for (UINT i = 0; i < paramCount; ++i) {
    USHORT flags = desc.lprgelemdescParam[i].paramdesc.wParamFlags;
    if ((flags & PARAMFLAG_FRETVAL) != 0)
      retval = i;
    else if ((flags & PARAMFLAG_FLCID) == 0)
      visible.push_back(i);
  }

  // Which rgvarg entry each visible parameter takes.
  const UINT named = params.cNamedArgs;
  const UINT positional = params.cArgs - named;
  if (positional > visible.size()) return DISP_E_BADPARAMCOUNT;
  std::vector<UINT> sourceOf(visible.size(), kNoArgument);
  for (UINT j = 0; j < positional; ++j) sourceOf[j] = params.cArgs - 1 - j;
  const bool isPut =
      (desc.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
  for (UINT i = 0; i < named; ++i) {
    DISPID id = params.rgdispidNamedArgs[i];
    if (id == DISPID_PROPERTYPUT && isPut && !visible.empty())
      id = static_cast<DISPID>(visible.size() - 1);
    if (id < 0 || static_cast<UINT>(id) >= visible.size() ||
        sourceOf[id] != kNoArgument) {
      if (request.argErr != nullptr) *request.argErr = i;
      return DISP_E_PARAMNOTFOUND;
    }
    sourceOf[id] = i;
  }

  SlotList slots(paramCount);
  for (UINT j = 0; j < visible.size(); ++j) {
    const ELEMDESC& param = desc.lprgelemdescParam[visible[j]];
    const USHORT flags = param.paramdesc.wParamFlags;
    const VARIANT* source =
        sourceOf[j] == kNoArgument ? nullptr : &params.rgvarg[sourceOf[j]];
    const bool hasDefault = (flags & PARAMFLAG_FHASDEFAULT) != 0 &&
                            param.paramdesc.pparamdescex != nullptr;
    if ((source == nullptr || IsMissingMarker(*source)) && hasDefault) {
      source = &param.paramdesc.pparamdescex->varDefaultValue;
    } else if (source == nullptr && (flags & PARAMFLAG_FOPT) == 0) {
      // Too few arguments, or a required one skipped over by names.
      return named == 0 ? DISP_E_BADPARAMCOUNT : DISP_E_PARAMNOTOPTIONAL;
    }
    ValueShape shape;
    HRESULT hr = ShapeOf(types, param.tdesc, &shape);
    // Only a variant can say that it was left out.
    if (SUCCEEDED(hr) && source == nullptr && shape.vt != VT_VARIANT)
      return DISP_E_PARAMNOTOPTIONAL;
    if (SUCCEEDED(hr)) hr = Bind(flags, shape, source, &slots[visible[j]]);
    if (FAILED(hr)) {
      if (request.argErr != nullptr && sourceOf[j] != kNoArgument)
        *request.argErr = sourceOf[j];
      return hr;
    }
  }
  for (UINT i = 0; i < paramCount; ++i) {
    USHORT flags = desc.lprgelemdescParam[i].paramdesc.wParamFlags;
    if ((flags & PARAMFLAG_FLCID) == 0 || i == retval) continue;
    slots[i].frameType = VT_I4;
    slots[i].frame.vt = VT_I4;
    slots[i].frame.lVal = LOCALE_USER_DEFAULT;
  }
  ValueShape resultShape;
  if (retval != kNoArgument) {
    HRESULT hr =
        ShapeOf(types, desc.lprgelemdescParam[retval].tdesc, &resultShape);
    if (FAILED(hr)) return hr;
    if (!resultShape.byRef) return DISP_E_BADVARTYPE;
    BindResult(resultShape, &slots[retval]);
  }

  VARTYPE returnType = desc.elemdescFunc.tdesc.vt;
  if (returnType != VT_HRESULT && returnType != VT_VOID) {
    ValueShape shape;
    HRESULT hr = ShapeOf(types, desc.elemdescFunc.tdesc, &shape);
    if (FAILED(hr)) return hr;
    if (shape.byRef || shape.vt == VT_VARIANT) return DISP_E_BADVARTYPE;
    returnType = shape.vt;
  }
  // oVft counts slots of the library's own system; the call counts ours.
  const ULONG vtableOffset = static_cast<ULONG>(desc.oVft);
  if (pointerSize == 0 || desc.oVft < 0 || vtableOffset % pointerSize != 0)
    return E_INVALIDARG;
  const ULONG_PTR offset = vtableOffset / pointerSize * sizeof(void*);

  std::vector<VARTYPE> frameTypes(paramCount);
  std::vector<VARIANT*> frames(paramCount);
  for (UINT i = 0; i < paramCount; ++i) {
    frameTypes[i] = slots[i].frameType;
    frames[i] = &slots[i].frame;
  }
  VARIANT returned;
  VariantInit(&returned);
  HRESULT hr =
      DispCallFunc(request.instance, offset, desc.callconv, returnType,
                   paramCount, frameTypes.data(), frames.data(), &returned);
  if (FAILED(hr)) return hr;
  if (returnType == VT_HRESULT && FAILED(returned.scode)) {
    FillException(returned.scode, request.excepInfo);
    return DISP_E_EXCEPTION;
  }
  DeliverResult(returnType, &returned,
                retval != kNoArgument ? &slots[retval] : nullptr,
                request.result);
  return S_OK;
}

}  // namespace internal
}  // namespace qxplatform
