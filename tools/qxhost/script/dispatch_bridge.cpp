// The Proxy behind every automation object in script. The engine unwinds
// errors with longjmp, so each trap does its work in a function that
// pushes either the result or the error and returns, destroying its locals,
// before the trap throws.
#include "tools/qxhost/script/dispatch_bridge.h"

#include <oleauto.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tools/qxhost/script/script_session.h"
#include "tools/qxhost/script/type_library_cause.h"
#include "tools/qxhost/script/variant_bridge.h"
#include "tools/qxhost/text/engine_text.h"
#include "tools/qxhost/text/status_text.h"

namespace qxhost {
namespace {

// Hidden symbols: script cannot name them, and Proxy traps never see them.
constexpr char kHandleKey[] =
    "\xFF"
    "qxDispatch";
constexpr char kDispidKey[] =
    "\xFF"
    "qxDispid";
constexpr char kMethodKeyPrefix[] =
    "\xFF"
    "qxMethod";
constexpr char kHandlerKey[] = "qxhost.dispatchHandler";
constexpr char kFinalizerKey[] = "qxhost.dispatchFinalizer";

// Far longer than any member name; a longer one is not looked up.
constexpr size_t kMaxMemberNameLength = 1024;

const IID kNullIid = {};
constexpr LCID kLocale = LOCALE_USER_DEFAULT;

DispatchHandle* HandleOf(duk_context* context, duk_idx_t index) {
  if (!duk_is_object(context, index)) return nullptr;
  duk_get_prop_string(context, index, kHandleKey);
  auto* handle = static_cast<DispatchHandle*>(duk_get_pointer(context, -1));
  duk_pop(context);
  if (handle == nullptr || !ScriptSession::From(context)->Owns(handle))
    return nullptr;
  return handle;
}

// The status and text an Invoke failure carries.
void DescribeFailure(HRESULT hr, EXCEPINFO* exception, BridgeFailure* failure) {
  failure->hr = hr;
  if (hr == DISP_E_EXCEPTION) {
    if (exception->pfnDeferredFillIn != nullptr)
      exception->pfnDeferredFillIn(exception);
    if (FAILED(exception->scode)) failure->hr = exception->scode;
  }
  BSTR description = exception->bstrDescription;
  if (description != nullptr && SysStringLen(description) != 0) {
    size_t length = SysStringLen(description);
    failure->message =
        Utf16ToEngineText(description, std::min(length, kMaxQuotedText));
    if (length > kMaxQuotedText) failure->message += "...";
  } else {
    failure->message = StatusText(failure->hr);
  }
}

void ClearException(EXCEPINFO* exception) {
  SysFreeString(exception->bstrSource);
  SysFreeString(exception->bstrDescription);
  SysFreeString(exception->bstrHelpFile);
}

// The converted arguments of one call, cleared however the call ends.
class ArgumentList {
 public:
  explicit ArgumentList(size_t count) : m_items(count) {
    for (VARIANT& item : m_items) VariantInit(&item);
  }
  ~ArgumentList() {
    for (VARIANT& item : m_items) VariantClear(&item);
  }
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;
  VARIANT* data() { return m_items.data(); }
  VARIANT& operator[](size_t index) { return m_items[index]; }

 private:
  std::vector<VARIANT> m_items;
};

// Arguments [firstArg, firstArg + count) go to rgvarg last first, as
// automation orders them.
bool InvokeMember(duk_context* context, DispatchHandle* handle, DISPID id,
                  WORD flags, duk_idx_t firstArg, duk_idx_t count,
                  VARIANT* result, BridgeFailure* failure) {
  ArgumentList arguments(static_cast<size_t>(count));
  size_t textUnits = kMaxCallTextUnits;
  bool converted = true;
  for (duk_idx_t i = 0; i < count && converted; ++i) {
    converted = ScriptValueToVariant(
        context, firstArg + i, &arguments[static_cast<size_t>(count - 1 - i)],
        &textUnits, failure);
  }
  bool succeeded = converted;
  if (converted) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS parameters = {arguments.data(), nullptr,
                             static_cast<UINT>(count), 0};
    if (flags & DISPATCH_PROPERTYPUT) {
      parameters.rgdispidNamedArgs = &named;
      parameters.cNamedArgs = 1;
    }
    EXCEPINFO exception = {};
    UINT argumentError = 0;
    HRESULT hr =
        handle->dispatch->Invoke(id, kNullIid, kLocale, flags, &parameters,
                                 result, &exception, &argumentError);
    if (FAILED(hr)) {
      DescribeFailure(hr, &exception, failure);
      succeeded = false;
    }
    ClearException(&exception);
  }
  return succeeded;
}

// Invokes and pushes the result, or pushes the error; true on success.
bool InvokeAndPush(duk_context* context, DispatchHandle* handle, DISPID id,
                   WORD flags, duk_idx_t firstArg, duk_idx_t count) {
  VARIANT result;
  VariantInit(&result);
  BridgeFailure failure;
  bool succeeded = InvokeMember(context, handle, id, flags, firstArg, count,
                                &result, &failure) &&
                   PushVariant(context, result, &failure);
  VariantClear(&result);
  if (!succeeded) PushAutomationError(context, failure.hr, failure.message);
  return succeeded;
}

void ReadMemberKinds(DispatchHandle* handle) {
  handle->kindsRead = true;
  UINT count = 0;
  if (FAILED(handle->dispatch->GetTypeInfoCount(&count)) || count == 0) return;
  ComPtr<ITypeInfo> info;
  if (FAILED(handle->dispatch->GetTypeInfo(0, kLocale, info.put())) || !info)
    return;
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes)) || attributes == nullptr) return;
  for (UINT i = 0; i < attributes->cFuncs; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(i, &function)) || function == nullptr)
      continue;
    handle->invokeKinds[function->memid] |= function->invkind;
    info->ReleaseFuncDesc(function);
  }
  for (UINT i = 0; i < attributes->cVars; ++i) {
    VARDESC* variable = nullptr;
    if (FAILED(info->GetVarDesc(i, &variable)) || variable == nullptr) continue;
    handle->invokeKinds[variable->memid] |= INVOKE_PROPERTYGET;
    info->ReleaseVarDesc(variable);
  }
  info->ReleaseTypeAttr(attributes);
}

MemberKind KindFromTypeInfo(DispatchHandle* handle, DISPID id) {
  if (!handle->kindsRead) ReadMemberKinds(handle);
  auto found = handle->invokeKinds.find(id);
  if (found == handle->invokeKinds.end()) return MemberKind::kUnknown;
  if (found->second & INVOKE_FUNC) return MemberKind::kMethod;
  return MemberKind::kProperty;
}

// An object without type information answers a property read of a method
// with one of these.
bool MeansMethod(HRESULT hr) {
  return hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_BADPARAMCOUNT ||
         hr == DISP_E_PARAMNOTOPTIONAL;
}

void PushNoMember(duk_context* context, HRESULT hr, const char* name,
                  size_t length) {
  PushAutomationError(context, hr,
                      "the object has no member '" +
                          QuotedEngineText(name, length) + "' (" +
                          StatusText(hr) + ")");
}

// Finds the member, or pushes the error.
DispatchMember* FindMember(duk_context* context, DispatchHandle* handle,
                           const char* name, size_t length) {
  // The object reads a name up to its first NUL: "install\0x" would find
  // install.
  if (length > kMaxMemberNameLength || std::memchr(name, '\0', length)) {
    PushNoMember(context, DISP_E_UNKNOWNNAME, name, length);
    return nullptr;
  }
  std::string key(name, length);
  auto found = handle->members.find(key);
  if (found != handle->members.end()) return &found->second;
  std::u16string wide = EngineTextToUtf16(name, length);
  LPOLESTR names[] = {&wide[0]};
  DispatchMember member;
  HRESULT hr =
      handle->dispatch->GetIDsOfNames(kNullIid, names, 1, kLocale, &member.id);
  if (FAILED(hr)) {
    // An object that serves its names from a type library it cannot load
    // has them all still: say what is wrong with the library.
    const std::string cause =
        handle->hasClass ? TypeLibraryCause(handle->clsid, hr) : std::string();
    if (!cause.empty())
      PushAutomationError(context, hr, cause);
    else
      PushNoMember(context, hr, name, length);
    return nullptr;
  }
  member.kind = KindFromTypeInfo(handle, member.id);
  // Only names that exist are kept, so a script cannot grow the cache
  // without bound.
  return &handle->members.emplace(std::move(key), member).first->second;
}

// A method's function carries its member id as its magic number when the id
// fits one, else under kDispidKey with this magic.
constexpr int kDispidInProperty = -32768;

duk_ret_t CallMethod(duk_context* context) {
  ThrowIfQuitting(context);
  ScriptSession::From(context)->CollectIfDue();
  duk_idx_t count = duk_get_top(context);
  DISPID id = duk_get_current_magic(context);
  duk_push_current_function(context);
  duk_get_prop_string(context, -1, kHandleKey);
  auto* handle = static_cast<DispatchHandle*>(duk_get_pointer(context, -1));
  if (id == kDispidInProperty) {
    duk_get_prop_string(context, -2, kDispidKey);
    id = static_cast<DISPID>(duk_get_int(context, -1));
    duk_pop(context);
  }
  duk_pop_2(context);
  if (handle == nullptr || !ScriptSession::From(context)->Owns(handle)) {
    PushAutomationError(context, E_UNEXPECTED, "the object has been released");
    return duk_throw(context);
  }
  if (!InvokeAndPush(context, handle, id,
                     DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, count))
    return duk_throw(context);
  return 1;
}

// Gives the object on top of the stack the handle, as one of its holders,
// and the finalizer that lets go of it.
void HoldHandle(duk_context* context, DispatchHandle* handle);

// Pushes the script function of a method of the target at index 0. One
// function serves every call of a member, since making one per call is most
// of what a call from script would cost. The target keeps it under the
// member's id; it holds the handle, not the target, so that no cycle keeps
// either once script lets go of them, and the object stays alive while
// script holds only the method.
void PushMethod(duk_context* context, DispatchHandle* handle,
                DispatchMember* member) {
  if (member->method != nullptr) {
    duk_push_heapptr(context, member->method);
    return;
  }
  const std::string key = kMethodKeyPrefix + std::to_string(member->id);
  if (!duk_get_prop_string(context, 0, key.c_str())) {
    duk_pop(context);
    duk_push_c_function(context, HostFunction<CallMethod>, DUK_VARARGS);
    HoldHandle(context, handle);
    if (member->id > kDispidInProperty && member->id <= 32767) {
      duk_set_magic(context, -1, static_cast<int>(member->id));
    } else {
      duk_set_magic(context, -1, kDispidInProperty);
      duk_push_int(context, member->id);
      duk_put_prop_string(context, -2, kDispidKey);
    }
    duk_dup_top(context);
    duk_put_prop_string(context, 0, key.c_str());
  }
  member->method = duk_get_heapptr(context, -1);
}

// toString and valueOf of an object that has no such members: its value
// property, as a script engine converts an automation object.
duk_ret_t DefaultValue(duk_context* context) {
  ThrowIfQuitting(context);
  duk_push_this(context);
  DispatchHandle* handle = HandleOf(context, -1);
  duk_pop(context);
  if (handle == nullptr || !InvokeAndPush(context, handle, DISPID_VALUE,
                                          DISPATCH_PROPERTYGET, 0, 0)) {
    duk_push_string(context, "[object]");
  }
  return 1;
}

bool IsConversionName(const char* name, size_t length) {
  std::string text(name, length);
  return text == "toString" || text == "valueOf";
}

// Pushes the value of target[key] (index 0 and 1), or the error.
bool GetMember(duk_context* context, DispatchHandle* handle) {
  duk_size_t length = 0;
  const char* name = duk_get_lstring(context, 1, &length);
  DispatchMember* member = FindMember(context, handle, name, length);
  if (member == nullptr) {
    if (!IsConversionName(name, length)) return false;
    duk_pop(context);
    duk_push_c_function(context, HostFunction<DefaultValue>, 0);
    return true;
  }
  if (member->kind == MemberKind::kMethod) {
    PushMethod(context, handle, member);
    return true;
  }
  if (member->kind == MemberKind::kProperty)
    return InvokeAndPush(context, handle, member->id, DISPATCH_PROPERTYGET, 0,
                         0);
  // No type information says which it is: a property read tells.
  VARIANT result;
  VariantInit(&result);
  BridgeFailure failure;
  bool read = InvokeMember(context, handle, member->id, DISPATCH_PROPERTYGET, 0,
                           0, &result, &failure);
  bool succeeded = true;
  if (read) {
    member->kind = MemberKind::kProperty;
    succeeded = PushVariant(context, result, &failure);
  } else if (MeansMethod(failure.hr)) {
    member->kind = MemberKind::kMethod;
    PushMethod(context, handle, member);
  } else {
    succeeded = false;
  }
  VariantClear(&result);
  if (!succeeded) PushAutomationError(context, failure.hr, failure.message);
  return succeeded;
}

duk_ret_t TrapGet(duk_context* context) {
  ThrowIfQuitting(context);
  ScriptSession::From(context)->CollectIfDue();
  DispatchHandle* handle = HandleOf(context, 0);
  if (handle == nullptr || duk_is_symbol(context, 1) ||
      !duk_is_string(context, 1))
    return 0;
  if (!GetMember(context, handle)) return duk_throw(context);
  return 1;
}

// Writes value (index 2) to target[key] and pushes true, or the error.
bool PutMember(duk_context* context, DispatchHandle* handle) {
  duk_size_t length = 0;
  const char* name = duk_get_lstring(context, 1, &length);
  DispatchMember* member = FindMember(context, handle, name, length);
  if (member == nullptr) return false;
  if (!InvokeAndPush(context, handle, member->id, DISPATCH_PROPERTYPUT, 2, 1))
    return false;
  duk_pop(context);
  duk_push_true(context);
  return true;
}

duk_ret_t TrapSet(duk_context* context) {
  ThrowIfQuitting(context);
  DispatchHandle* handle = HandleOf(context, 0);
  if (handle == nullptr || duk_is_symbol(context, 1) ||
      !duk_is_string(context, 1)) {
    duk_push_false(context);
    return 1;
  }
  if (!PutMember(context, handle)) return duk_throw(context);
  return 1;
}

// Runs when the engine frees a holder of a handle (or destroys the heap):
// the last holder to go drops the handle, releasing the object.
duk_ret_t FinalizeHolder(duk_context* context) {
  duk_get_prop_string(context, 0, kHandleKey);
  auto* handle = static_cast<DispatchHandle*>(duk_get_pointer(context, -1));
  duk_pop(context);
  ScriptSession* session = ScriptSession::From(context);
  if (handle != nullptr && session->Owns(handle)) {
    duk_del_prop_string(context, 0, kHandleKey);
    // The methods the target kept go with it.
    if (duk_is_function(context, 0) == 0) {
      for (auto& member : handle->members) member.second.method = nullptr;
    }
    if (--handle->holders == 0) session->Drop(handle);
  }
  return 0;
}

void HoldHandle(duk_context* context, DispatchHandle* handle) {
  duk_push_pointer(context, handle);
  duk_put_prop_string(context, -2, kHandleKey);
  ++handle->holders;
  // One finalizer serves every holder.
  duk_push_global_stash(context);
  if (!duk_get_prop_string(context, -1, kFinalizerKey)) {
    duk_pop(context);
    duk_push_c_function(context, HostFunction<FinalizeHolder>, 2);
    duk_dup_top(context);
    duk_put_prop_string(context, -3, kFinalizerKey);
  }
  duk_remove(context, -2);
  duk_set_finalizer(context, -2);
}

void PushHandler(duk_context* context) {
  duk_push_global_stash(context);
  if (!duk_get_prop_string(context, -1, kHandlerKey)) {
    duk_pop(context);
    duk_push_object(context);
    duk_push_c_function(context, HostFunction<TrapGet>, 3);
    duk_put_prop_string(context, -2, "get");
    duk_push_c_function(context, HostFunction<TrapSet>, 4);
    duk_put_prop_string(context, -2, "set");
    duk_dup_top(context);
    duk_put_prop_string(context, -3, kHandlerKey);
  }
  duk_remove(context, -2);
}

}  // namespace

void PushDispatchObject(duk_context* context, IDispatch* dispatch,
                        const CLSID* clsid) {
  auto* handle = new DispatchHandle;
  dispatch->AddRef();
  handle->dispatch.attach(dispatch);
  if (clsid != nullptr) {
    handle->hasClass = true;
    handle->clsid = *clsid;
  }
  // Adopted first: whatever happens below, the session releases it.
  ScriptSession::From(context)->Adopt(handle);
  duk_push_object(context);
  HoldHandle(context, handle);
  PushHandler(context);
  duk_push_proxy(context, /*proxy_flags=*/0);
}

IDispatch* DispatchOfScriptValue(duk_context* context, duk_idx_t index) {
  DispatchHandle* handle = HandleOf(context, index);
  return handle == nullptr ? nullptr : handle->dispatch.get();
}

void PushAutomationError(duk_context* context, HRESULT hr,
                         const std::string& message) {
  duk_push_error_object_raw(context, DUK_ERR_ERROR, /*filename=*/nullptr, 0,
                            "");
  duk_push_int(context, static_cast<duk_int_t>(static_cast<int32_t>(hr)));
  duk_put_prop_string(context, -2, "number");
  // As a string of its own length: a NUL in the message stays in it.
  duk_push_lstring(context, message.data(), message.size());
  duk_dup_top(context);
  duk_put_prop_string(context, -3, "message");
  duk_put_prop_string(context, -2, "description");
}

}  // namespace qxhost
