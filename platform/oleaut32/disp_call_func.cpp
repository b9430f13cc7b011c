// DispCallFunc: a call through slot oVft / pointer size of an object's
// vtable (or, without an object, to the function at address oVft), its
// arguments taken from variants by the types the caller names and its
// result stored as a variant of type vtReturn. The frame is built by
// libffi for the convention the caller names: on x86-64 every convention
// is the one ABI; on x86 stdcall, cdecl, fastcall and pascal are each their
// own frame, and the others, which name no x86 frame, are refused with
// E_INVALIDARG.
#include <ffi.h>
#include <oleauto.h>

#include <vector>

#include "call_frame.h"

namespace {

using qxplatform::internal::AbiOf;
using qxplatform::internal::FrameResult;
using qxplatform::internal::FrameTypeOf;

constexpr size_t kLocalArguments = 16;

// The frame's description: the instance first for a method, then each
// argument as its type says it travels.
HRESULT DescribeFrame(void** instance, UINT cActuals, const VARTYPE* prgvt,
                      VARIANTARG** prgpvarg, ffi_type** types, void** values) {
  size_t next = 0;
  if (*instance != nullptr) {
    types[next] = &ffi_type_pointer;
    values[next++] = instance;
  }
  for (UINT i = 0; i < cActuals; ++i, ++next) {
    types[next] = FrameTypeOf(prgvt[i]);
    if (types[next] == nullptr) return DISP_E_BADVARTYPE;
    VARIANTARG* argument = prgpvarg[i];
    if (argument == nullptr) return E_INVALIDARG;
    // A variant travels whole; everything else is read from the union.
    values[next] = prgvt[i] == VT_VARIANT ? static_cast<void*>(argument)
                                          : &argument->llVal;
  }
  return S_OK;
}

// The function called: the vtable entry at byte offset oVft of a method's
// instance, or oVft itself for a plain function.
HRESULT FindCallTarget(void* instance, ULONG_PTR oVft, void** function) {
  *function = nullptr;
  if (instance != nullptr) {
    if (oVft % sizeof(void*) != 0) return E_INVALIDARG;
    void** vtable = *static_cast<void***>(instance);
    if (vtable == nullptr) return E_INVALIDARG;
    *function = vtable[oVft / sizeof(void*)];
  } else {
    *function = reinterpret_cast<void*>(oVft);
  }
  return *function != nullptr ? S_OK : E_INVALIDARG;
}

}  // namespace

HRESULT WINAPI DispCallFunc(void* pvInstance, ULONG_PTR oVft, CALLCONV cc,
                            VARTYPE vtReturn, UINT cActuals, VARTYPE* prgvt,
                            VARIANTARG** prgpvarg, VARIANT* pvargResult) {
  if (cc < CC_FASTCALL || cc >= CC_MAX) return E_INVALIDARG;
  if (cActuals != 0 && (prgvt == nullptr || prgpvarg == nullptr))
    return E_INVALIDARG;
  const bool returnsNothing = vtReturn == VT_VOID || vtReturn == VT_EMPTY;
  if (pvargResult == nullptr && !returnsNothing) return E_INVALIDARG;
  ffi_type* resultType =
      returnsNothing ? &ffi_type_void : FrameTypeOf(vtReturn);
  if (resultType == nullptr) return DISP_E_BADVARTYPE;

  const bool isMethod = pvInstance != nullptr;
  const size_t count = cActuals + (isMethod ? 1 : 0);
  // Most calls fit the frame description on the stack.
  ffi_type* localTypes[kLocalArguments];
  void* localValues[kLocalArguments];
  std::vector<ffi_type*> heapTypes;
  std::vector<void*> heapValues;
  ffi_type** types = localTypes;
  void** values = localValues;
  if (count > kLocalArguments) {
    heapTypes.resize(count);
    heapValues.resize(count);
    types = heapTypes.data();
    values = heapValues.data();
  }
  HRESULT hr =
      DescribeFrame(&pvInstance, cActuals, prgvt, prgpvarg, types, values);
  if (FAILED(hr)) return hr;
  void* function = nullptr;
  hr = FindCallTarget(pvInstance, oVft, &function);
  if (FAILED(hr)) return hr;

  ffi_cif cif;
  if (ffi_prep_cif(&cif, AbiOf(cc), static_cast<unsigned>(count), resultType,
                   types) != FFI_OK)
    return E_INVALIDARG;
  FrameResult result;
  result.variant = VARIANT{};
  ffi_call(&cif, FFI_FN(function), &result, values);

  if (returnsNothing) {
    if (pvargResult != nullptr) VariantInit(pvargResult);
    return S_OK;
  }
  qxplatform::internal::StoreFrameResult(vtReturn, result, pvargResult);
  return S_OK;
}
