// Frame types and results of libffi calls. A VARIANT passed by value is
// its header word and the two words of its union, which is how the x86-64
// ABI classifies the structure; on x86 it is its sixteen bytes copied onto
// the stack, as any structure travels there.
#include "call_frame.h"

#include <oleauto.h>

#include "variant_types.h"

namespace qxplatform {
namespace internal {

ffi_type* FrameTypeOf(VARTYPE vt) {
#if defined(__i386__)
  static ffi_type* variantMembers[] = {&ffi_type_uint32, &ffi_type_uint32,
                                       &ffi_type_uint32, &ffi_type_uint32,
                                       nullptr};
  static_assert(sizeof(VARIANT) == 16, "VARIANT is four words");
#else
  static ffi_type* variantMembers[] = {&ffi_type_uint64, &ffi_type_uint64,
                                       &ffi_type_pointer, nullptr};
  static_assert(sizeof(VARIANT) == 8 + 2 * sizeof(void*),
                "VARIANT is a header word and two pointers");
#endif
  static ffi_type variantType = {0, 0, FFI_TYPE_STRUCT, variantMembers};
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
      return &variantType;
    default:
      return nullptr;
  }
}

ffi_abi AbiOf(CALLCONV cc) {
#if defined(__i386__)
  // On x86 each convention is its own frame: who pops the arguments, in
  // which order they go, which travel in registers. One that names no x86
  // frame gets an ABI libffi refuses, so the call is refused rather than
  // made with a frame the callee does not expect.
  switch (cc) {
    case CC_STDCALL:
      return FFI_STDCALL;
    case CC_CDECL:
      return FFI_SYSV;
    case CC_FASTCALL:
      return FFI_FASTCALL;
    case CC_PASCAL:
      return FFI_PASCAL;
    default:
      return FFI_LAST_ABI;
  }
#else
  // x86-64 has one convention, whatever the caller names.
  (void)cc;
  return FFI_DEFAULT_ABI;
#endif
}

void StoreFrameResult(VARTYPE vtReturn, const FrameResult& result,
                      VARIANT* stored) {
  if (vtReturn == VT_VARIANT) {
    *stored = result.variant;
    return;
  }
  VariantInit(stored);
  stored->llVal = 0;
  switch (vtReturn) {
    case VT_R4:
      stored->fltVal = result.single;
      break;
    case VT_R8:
    case VT_DATE:
      stored->dblVal = result.real;
      break;
    default: {
      // An HRESULT comes back as the word an error code is.
      const VARTYPE bitsType =
          vtReturn == VT_HRESULT ? VARTYPE{VT_ERROR} : vtReturn;
      const uint64_t bits = TraitsOf(bitsType).storedSize == 8
                                ? result.wide
                                : static_cast<uint64_t>(result.word);
      if (!ValueFromBits(bitsType, bits, stored))  // pointers
        stored->byref = reinterpret_cast<void*>(result.word);
      break;
    }
  }
  stored->vt = vtReturn;
}

}  // namespace internal
}  // namespace qxplatform
