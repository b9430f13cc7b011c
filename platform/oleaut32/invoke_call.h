// One dispatch call made as a vtable call: the arguments of DISPPARAMS bound
// to a function's parameters, coerced to their types, the call made through
// DispCallFunc, and the result or the failure reported as IDispatch::Invoke
// reports them.
#pragma once
#include <oaidl.h>

namespace qxplatform {
namespace internal {

struct InvokeRequest {
  void* instance;
  WORD flags;
  DISPPARAMS* params;  // checked: rgvarg and rgdispidNamedArgs cover counts
  VARIANT* result;
  EXCEPINFO* excepInfo;
  UINT* argErr;
};

// desc: the function as its vtable shows it (lcid and retval parameters
// included); types resolves the user-defined types it names; pointerSize:
// that of the system its library was built for, which oVft counts in.
HRESULT InvokeFunction(ITypeInfo* types, const FUNCDESC& desc,
                       ULONG pointerSize, const InvokeRequest& request);

}  // namespace internal
}  // namespace qxplatform
