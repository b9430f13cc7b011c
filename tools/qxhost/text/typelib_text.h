// IDL-like spellings of what a type library describes: types, flags,
// values, GUIDs.
#pragma once
#include <oaidl.h>

#include <string>

namespace qxhost {

std::string GuidString(REFGUID guid);
std::string NarrowText(const BSTR text);
// A type as IDL writes it; user-defined types by the name they lead to.
std::string TypeText(ITypeInfo* context, const TYPEDESC& type);
// "in, out, retval, defaultvalue(...)": a parameter's flags and default.
std::string ParamFlagsText(const PARAMDESC& param);
std::string VariantText(const VARIANT& value);
std::string TypeKindText(TYPEKIND kind);
std::string TypeFlagsText(WORD flags);
std::string FuncFlagsText(WORD flags);
std::string VarFlagsText(WORD flags);
std::string ImplTypeFlagsText(INT flags);
std::string InvokeKindText(INVOKEKIND kind);
std::string FuncKindText(FUNCKIND kind);
std::string CallConvText(CALLCONV callConv);
std::string VarKindText(VARKIND kind);
std::string SysKindText(SYSKIND kind);

}  // namespace qxhost
