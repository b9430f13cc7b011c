// A member's dispatch call prepared once: what the vtable view says about
// the function reduced to what a call needs (each parameter's role, shape
// and default, the retval position, the slot and the result type) and the
// libffi call interface for it. A plan is immutable once built, so any
// number of threads may run it at once.
#pragma once
#include <ffi.h>
#include <oaidl.h>

#include <memory>
#include <vector>

#include "invoke_call.h"
#include "invoke_types.h"
#include "type_model.h"

namespace qxplatform {
namespace internal {

struct PlannedParam {
  USHORT flags = 0;
  ValueShape shape;                        // visible and retval parameters
  const Constant* defaultValue = nullptr;  // made afresh for each call
};

struct InvokePlan {
  static constexpr UINT kNoRetval = static_cast<UINT>(-1);

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
};

// The plan for desc (the function as its vtable view shows it, read from
// function of model; types resolves the user-defined types it names), or
// null when the call cannot be prepared: the caller then calls through
// the description, which reports why.
std::unique_ptr<InvokePlan> BuildInvokePlan(ITypeInfo* types,
                                            const FUNCDESC& desc,
                                            const TypeLibModel& model,
                                            const Function& function,
                                            ULONG pointerSize);

// The call as InvokeFunction makes it through desc, with the same results.
HRESULT RunInvokePlan(const InvokePlan& plan, const InvokeRequest& request);

}  // namespace internal
}  // namespace qxplatform
