// A member's dispatch call prepared once: what the vtable view says about
// the function reduced to what a call needs (each parameter's role, shape
// and default, the retval position, the slot and the result type) and the
// libffi call interface for it. A plan is immutable once built, so any
// number of threads may run it at once.
//
// Every function gets a plan. One that cannot be called (a type that cannot
// travel, a retval that is no reference, a slot off the pointer grid, a
// frame libffi cannot describe) carries that status and the point of the
// call where it applies, so the caller still hears first about what its own
// arguments got wrong, in the order the binding meets them.
#pragma once
#include <ffi.h>
#include <oaidl.h>

#include <memory>
#include <vector>

#include "invoke_types.h"
#include "type_model.h"

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

struct PlannedParam {
  USHORT flags = 0;
  ValueShape shape;                        // visible and retval parameters
  const Constant* defaultValue = nullptr;  // made afresh for each call
};

struct InvokePlan {
  static constexpr UINT kNoRetval = static_cast<UINT>(-1);

  // Where a call that cannot be made fails.
  enum class Failure {
    kNone,
    kBeforeArguments,  // before anything is bound (a vararg function)
    kAtParameter,      // when binding reaches visible parameter failedParam
    kAfterArguments,   // once every argument is bound
  };

  // What the plan answers: the member id and the invoke kinds asked for.
  MEMBERID memid = 0;
  WORD flags = 0;
  // The next plan of the cache bucket it is published in.
  const InvokePlan* next = nullptr;

  INVOKEKIND invkind = INVOKE_FUNC;
  const TypeLibModel* model = nullptr;  // the defaults' library
  std::vector<PlannedParam> params;
  std::vector<UINT> visible;  // the parameters rgvarg fills, in order
  std::vector<UINT> lcids;
  UINT retval = kNoRetval;
  VARTYPE returnType = VT_VOID;
  size_t slot = 0;                    // in the object's vtable
  std::vector<ffi_type*> frameTypes;  // the object pointer first
  ffi_cif cif;

  Failure failure = Failure::kNone;
  HRESULT failureStatus = S_OK;
  UINT failedParam = 0;  // an index into visible

  // Whether the plan may answer later calls too: a failure for lack of
  // memory may not recur.
  bool Reusable() const { return failureStatus != E_OUTOFMEMORY; }
};

// The plan for desc (the function as its vtable view shows it, read from
// function of model; types resolves the user-defined types it names), null
// only when there is no memory for one. pointerSize: that of the system the
// library was built for, which oVft counts in.
std::unique_ptr<InvokePlan> BuildInvokePlan(ITypeInfo* types,
                                            const FUNCDESC& desc,
                                            const TypeLibModel& model,
                                            const Function& function,
                                            ULONG pointerSize);

// The call, with IDispatch::Invoke's results: argument errors (and argErr)
// first, then a failure the plan carries, then the callee's.
HRESULT RunInvokePlan(const InvokePlan& plan, const InvokeRequest& request);

}  // namespace internal
}  // namespace qxplatform
