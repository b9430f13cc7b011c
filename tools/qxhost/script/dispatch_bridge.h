// Automation objects in script. Each IDispatch reaches script as a Proxy
// whose get and set traps resolve names with GetIDsOfNames, once per object
// and name, and call Invoke: a method becomes a function that calls with
// DISPATCH_METHOD | DISPATCH_PROPERTYGET, a property is read with
// DISPATCH_PROPERTYGET and written with DISPATCH_PROPERTYPUT. A failing
// call throws an Error whose number is the HRESULT.
#pragma once
#include <duktape.h>
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <unordered_map>

#include "base/holders.h"

namespace qxhost {

enum class MemberKind { kUnknown, kMethod, kProperty };

struct DispatchMember {
  DISPID id = DISPID_UNKNOWN;
  MemberKind kind = MemberKind::kUnknown;
  // A method's script function, made on first use and kept by the
  // object's script target (so valid while the target is; only the
  // target's traps read it).
  void* method = nullptr;
};

// What the session holds for one object handed to script.
struct DispatchHandle {
  ComPtr<IDispatch> dispatch;
  // The script objects that hold this handle: the object's target and its
  // methods' functions. None holds another, so that plain reference
  // counting frees each as soon as script lets go of it; the handle goes
  // with the last.
  size_t holders = 0;
  std::unordered_map<std::string, DispatchMember> members;  // by script name
  bool kindsRead = false;
  std::unordered_map<DISPID, int> invokeKinds;  // from type information
  // The class the host created it as, when it did: whose registration
  // names the type library a failed lookup may be blamed on.
  bool hasClass = false;
  CLSID clsid = {};
};

// Pushes the script object for dispatch, which gets its own reference;
// clsid, when given, is the class the host created it as.
void PushDispatchObject(duk_context* context, IDispatch* dispatch,
                        const CLSID* clsid = nullptr);

// The object behind a script value made by PushDispatchObject (borrowed),
// or null for any other value.
IDispatch* DispatchOfScriptValue(duk_context* context, duk_idx_t index);

// Pushes an Error with number (the HRESULT as a signed 32-bit number),
// description and message.
void PushAutomationError(duk_context* context, HRESULT hr,
                         const std::string& message);

}  // namespace qxhost
