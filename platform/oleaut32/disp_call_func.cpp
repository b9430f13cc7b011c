// DispCallFunc: a call through slot oVft / pointer size of an object's
// vtable (or, without an object, to the function at address oVft), its
// arguments taken from variants by the types the caller names and its
// result stored as a variant of type vtReturn. The frame is built by
// libffi for the platform's own calling convention: on x86-64 every
// convention the caller may name is the one ABI; on x86 stdcall is told
// apart.
#include <ffi.h>
#include <oleauto.h>

#include <vector>

#include "variant_types.h"

namespace {

constexpr size_t kLocalArguments = 16;

// How a value of type vt travels in a call frame, or null when it cannot.
ffi_type* FrameTypeOf(VARTYPE vt) {
  // A VARIANT by value: its header word and the two words of its union.
  static ffi_type* variantMembers[] = {&ffi_type_uint64, &ffi_type_uint64,
                                       &ffi_type_pointer, nullptr};
  static ffi_type variantType = {0, 0, FFI_TYPE_STRUCT, variantMembers};
  static_assert(sizeof(VARIANT) == 8 + 2 * sizeof(void*) || sizeof(void*) == 4,
                "VARIANT is a header word and two pointers");
  if ((vt & VT_BYREF) != 0) return &ffi_type_pointer;
  switch (vt) {
    case VT_I1:
      return &ffi_type_sint8;
    case VT_UI1:
      return &ffi_type_uint8;
    case VT_I2:
    case VT_BOOL:
      return &ffi_type_sint16;
    case VT_UI2:
      return &ffi_type_uint16;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
    case VT_HRESULT:
      return &ffi_type_sint32;
    case VT_UI4:
    case VT_UINT:
      return &ffi_type_uint32;
    case VT_I8:
    case VT_CY:
      return &ffi_type_sint64;
    case VT_UI8:
      return &ffi_type_uint64;
    case VT_R4:
      return &ffi_type_float;
    case VT_R8:
    case VT_DATE:
      return &ffi_type_double;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_PTR:
    case VT_LPSTR:
    case VT_LPWSTR:
      return &ffi_type_pointer;
    case VT_VARIANT:
      return sizeof(void*) == 8 ? &variantType : nullptr;
    default:
      return nullptr;
  }
}

ffi_abi AbiOf(CALLCONV cc) {
#if defined(__i386__)
  if (cc == CC_STDCALL) return FFI_STDCALL;
#endif
  (void)cc;
  return FFI_DEFAULT_ABI;
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
  size_t next = 0;
  if (isMethod) {
    types[next] = &ffi_type_pointer;
    values[next++] = &pvInstance;
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

  void* function = nullptr;
  if (isMethod) {
    if (oVft % sizeof(void*) != 0) return E_INVALIDARG;
    void** vtable = *static_cast<void***>(pvInstance);
    if (vtable == nullptr) return E_INVALIDARG;
    function = vtable[oVft / sizeof(void*)];
  } else {
    function = reinterpret_cast<void*>(oVft);
  }
  if (function == nullptr) return E_INVALIDARG;

  ffi_cif cif;
  if (ffi_prep_cif(&cif, AbiOf(cc), static_cast<unsigned>(count), resultType,
                   types) != FFI_OK)
    return E_INVALIDARG;
  // Small integer results come back widened to a full register.
  union {
    ffi_arg word;
    uint64_t wide;
    double real;
    float single;
    VARIANT variant;
  } result;
  result.variant = VARIANT{};
  ffi_call(&cif, FFI_FN(function), &result, values);

  if (returnsNothing) {
    if (pvargResult != nullptr) VariantInit(pvargResult);
    return S_OK;
  }
  if (vtReturn == VT_VARIANT) {
    *pvargResult = result.variant;
    return S_OK;
  }
  VariantInit(pvargResult);
  pvargResult->llVal = 0;
  switch (vtReturn) {
    case VT_R4:
      pvargResult->fltVal = result.single;
      break;
    case VT_R8:
    case VT_DATE:
      pvargResult->dblVal = result.real;
      break;
    case VT_I1:
    case VT_UI1:
      pvargResult->bVal = static_cast<BYTE>(result.word);
      break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      pvargResult->uiVal = static_cast<USHORT>(result.word);
      break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_HRESULT:
      pvargResult->ulVal = static_cast<ULONG>(result.word);
      break;
    case VT_I8:
    case VT_UI8:
    case VT_CY:
      pvargResult->ullVal = result.wide;
      break;
    default:  // pointers
      pvargResult->byref = reinterpret_cast<void*>(result.word);
      break;
  }
  pvargResult->vt = vtReturn;
  return S_OK;
}
