// Spellings for the typelib command. Flag sets print as their hexadecimal
// value followed by the names of the bits set, so nothing the library holds
// is hidden by a missing name.
#include "tools/qxhost/text/typelib_text.h"

#include <oleauto.h>

#include <cstdio>
#include <vector>

#include "base/holders.h"
#include "tools/qxhost/text/clsid_text.h"
#include "tools/qxhost/text/engine_text.h"

namespace qxhost {
namespace {

struct FlagName {
  unsigned bit;
  const char* name;
};

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%X", value);
  return text;
}

std::string FlagsText(unsigned flags, const std::vector<FlagName>& names) {
  std::string text = Hex(flags);
  std::string set;
  for (const FlagName& name : names) {
    if ((flags & name.bit) == 0) continue;
    set += set.empty() ? "" : " ";
    set += name.name;
  }
  return set.empty() ? text : text + " " + set;
}

const char* SimpleTypeName(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
      return "EMPTY";
    case VT_NULL:
      return "NULL";
    case VT_I2:
      return "short";
    case VT_I4:
      return "long";
    case VT_R4:
      return "float";
    case VT_R8:
      return "double";
    case VT_CY:
      return "CURRENCY";
    case VT_DATE:
      return "DATE";
    case VT_BSTR:
      return "BSTR";
    case VT_DISPATCH:
      return "IDispatch*";
    case VT_ERROR:
      return "SCODE";
    case VT_BOOL:
      return "VARIANT_BOOL";
    case VT_VARIANT:
      return "VARIANT";
    case VT_UNKNOWN:
      return "IUnknown*";
    case VT_DECIMAL:
      return "DECIMAL";
    case VT_I1:
      return "char";
    case VT_UI1:
      return "unsigned char";
    case VT_UI2:
      return "unsigned short";
    case VT_UI4:
      return "unsigned long";
    case VT_I8:
      return "int64";
    case VT_UI8:
      return "uint64";
    case VT_INT:
      return "int";
    case VT_UINT:
      return "unsigned int";
    case VT_VOID:
      return "void";
    case VT_HRESULT:
      return "HRESULT";
    case VT_LPSTR:
      return "LPSTR";
    case VT_LPWSTR:
      return "LPWSTR";
    default:
      return nullptr;
  }
}

std::string UserTypeName(ITypeInfo* context, HREFTYPE href) {
  ComPtr<ITypeInfo> target;
  BSTR name = nullptr;
  HRESULT hr = context->GetRefTypeInfo(href, target.put());
  if (SUCCEEDED(hr))
    hr = target->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr,
                                  nullptr);
  if (FAILED(hr)) return "<unresolved " + Hex(href) + ": " + Hex(hr) + ">";
  std::string text = NarrowText(name);
  SysFreeString(name);
  return text;
}

}  // namespace

std::string GuidString(REFGUID guid) {
  const std::string braced = GuidText(guid);
  return braced.substr(1, braced.size() - 2);
}

std::string NarrowText(const BSTR text) {
  std::string result;
  if (text != nullptr) AppendUtf16AsUtf8(text, SysStringLen(text), &result);
  return result;
}

std::string TypeText(ITypeInfo* context, const TYPEDESC& type) {
  switch (type.vt) {
    case VT_PTR:
      return TypeText(context, *type.lptdesc) + "*";
    case VT_SAFEARRAY:
      return "SAFEARRAY(" + TypeText(context, *type.lptdesc) + ")";
    case VT_CARRAY: {
      std::string text = TypeText(context, type.lpadesc->tdescElem);
      for (USHORT i = 0; i < type.lpadesc->cDims; ++i)
        text += "[" + std::to_string(type.lpadesc->rgbounds[i].cElements) + "]";
      return text;
    }
    case VT_USERDEFINED:
      return UserTypeName(context, type.hreftype);
    default: {
      const char* name = SimpleTypeName(type.vt);
      return name != nullptr ? name : "<vt " + std::to_string(type.vt) + ">";
    }
  }
}

std::string VariantText(const VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY:
      return "empty";
    case VT_I1:
      return std::to_string(value.cVal);
    case VT_UI1:
      return std::to_string(value.bVal);
    case VT_I2:
      return std::to_string(value.iVal);
    case VT_UI2:
      return std::to_string(value.uiVal);
    case VT_BOOL:
      return std::to_string(value.boolVal);
    case VT_I4:
      return std::to_string(value.lVal);
    case VT_UI4:
      return std::to_string(value.ulVal);
    case VT_INT:
      return std::to_string(value.intVal);
    case VT_UINT:
      return std::to_string(value.uintVal);
    case VT_ERROR:
      return Hex(static_cast<unsigned>(value.scode));
    case VT_I8:
      return std::to_string(value.llVal);
    case VT_UI8:
      return std::to_string(value.ullVal);
    case VT_R4:
      return std::to_string(value.fltVal);
    case VT_R8:
      return std::to_string(value.dblVal);
    // A null string or object is what IDL writes as defaultvalue(0).
    case VT_BSTR:
      if (value.bstrVal == nullptr) return "0";
      return "\"" + NarrowText(value.bstrVal) + "\"";
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (value.punkVal == nullptr) return "0";
      return "<object>";
    default:
      return "<vt " + std::to_string(value.vt) + ">";
  }
}

std::string ParamFlagsText(const PARAMDESC& param) {
  static const std::vector<FlagName> kNames = {
      {PARAMFLAG_FIN, "in"},        {PARAMFLAG_FOUT, "out"},
      {PARAMFLAG_FLCID, "lcid"},    {PARAMFLAG_FRETVAL, "retval"},
      {PARAMFLAG_FOPT, "optional"}, {PARAMFLAG_FHASCUSTDATA, "custom"}};
  std::string text;
  for (const FlagName& name : kNames) {
    if ((param.wParamFlags & name.bit) == 0) continue;
    text += text.empty() ? "" : ", ";
    text += name.name;
  }
  if ((param.wParamFlags & PARAMFLAG_FHASDEFAULT) &&
      param.pparamdescex != nullptr) {
    text += text.empty() ? "" : ", ";
    text += "defaultvalue(" + VariantText(param.pparamdescex->varDefaultValue) +
            ")";
  }
  return text;
}

std::string TypeKindText(TYPEKIND kind) {
  static const char* const kNames[] = {"enum",      "record",   "module",
                                       "interface", "dispatch", "coclass",
                                       "alias",     "union"};
  return kind < TKIND_MAX ? kNames[kind]
                          : "<kind " + std::to_string(kind) + ">";
}

std::string TypeFlagsText(WORD flags) {
  return FlagsText(flags, {{TYPEFLAG_FAPPOBJECT, "appobject"},
                           {TYPEFLAG_FCANCREATE, "cancreate"},
                           {TYPEFLAG_FLICENSED, "licensed"},
                           {TYPEFLAG_FPREDECLID, "predeclid"},
                           {TYPEFLAG_FHIDDEN, "hidden"},
                           {TYPEFLAG_FCONTROL, "control"},
                           {TYPEFLAG_FDUAL, "dual"},
                           {TYPEFLAG_FNONEXTENSIBLE, "nonextensible"},
                           {TYPEFLAG_FOLEAUTOMATION, "oleautomation"},
                           {TYPEFLAG_FRESTRICTED, "restricted"},
                           {TYPEFLAG_FAGGREGATABLE, "aggregatable"},
                           {TYPEFLAG_FREPLACEABLE, "replaceable"},
                           {TYPEFLAG_FDISPATCHABLE, "dispatchable"},
                           {TYPEFLAG_FREVERSEBIND, "reversebind"},
                           {TYPEFLAG_FPROXY, "proxy"}});
}

std::string FuncFlagsText(WORD flags) {
  return FlagsText(flags, {{FUNCFLAG_FRESTRICTED, "restricted"},
                           {FUNCFLAG_FSOURCE, "source"},
                           {FUNCFLAG_FBINDABLE, "bindable"},
                           {FUNCFLAG_FREQUESTEDIT, "requestedit"},
                           {FUNCFLAG_FDISPLAYBIND, "displaybind"},
                           {FUNCFLAG_FDEFAULTBIND, "defaultbind"},
                           {FUNCFLAG_FHIDDEN, "hidden"},
                           {FUNCFLAG_FUSESGETLASTERROR, "usesgetlasterror"},
                           {FUNCFLAG_FDEFAULTCOLLELEM, "defaultcollelem"},
                           {FUNCFLAG_FUIDEFAULT, "uidefault"},
                           {FUNCFLAG_FNONBROWSABLE, "nonbrowsable"},
                           {FUNCFLAG_FREPLACEABLE, "replaceable"},
                           {FUNCFLAG_FIMMEDIATEBIND, "immediatebind"}});
}

std::string VarFlagsText(WORD flags) {
  return FlagsText(flags, {{VARFLAG_FREADONLY, "readonly"},
                           {VARFLAG_FSOURCE, "source"},
                           {VARFLAG_FBINDABLE, "bindable"},
                           {VARFLAG_FHIDDEN, "hidden"},
                           {VARFLAG_FRESTRICTED, "restricted"},
                           {VARFLAG_FNONBROWSABLE, "nonbrowsable"}});
}

std::string ImplTypeFlagsText(INT flags) {
  return FlagsText(static_cast<unsigned>(flags),
                   {{IMPLTYPEFLAG_FDEFAULT, "default"},
                    {IMPLTYPEFLAG_FSOURCE, "source"},
                    {IMPLTYPEFLAG_FRESTRICTED, "restricted"},
                    {IMPLTYPEFLAG_FDEFAULTVTABLE, "defaultvtable"}});
}

std::string InvokeKindText(INVOKEKIND kind) {
  switch (kind) {
    case INVOKE_FUNC:
      return "func";
    case INVOKE_PROPERTYGET:
      return "propget";
    case INVOKE_PROPERTYPUT:
      return "propput";
    case INVOKE_PROPERTYPUTREF:
      return "propputref";
  }
  return "<invoke " + std::to_string(kind) + ">";
}

std::string FuncKindText(FUNCKIND kind) {
  static const char* const kNames[] = {"virtual", "purevirtual", "nonvirtual",
                                       "static", "dispatch"};
  return kind <= FUNC_DISPATCH ? kNames[kind]
                               : "<funckind " + std::to_string(kind) + ">";
}

std::string CallConvText(CALLCONV callConv) {
  static const char* const kNames[] = {"fastcall",  "cdecl",    "pascal",
                                       "macpascal", "stdcall",  "fpfastcall",
                                       "syscall",   "mpwcdecl", "mpwpascal"};
  return callConv < CC_MAX ? kNames[callConv]
                           : "<callconv " + std::to_string(callConv) + ">";
}

std::string VarKindText(VARKIND kind) {
  static const char* const kNames[] = {"perinstance", "static", "const",
                                       "dispatch"};
  return kind <= VAR_DISPATCH ? kNames[kind]
                              : "<varkind " + std::to_string(kind) + ">";
}

std::string SysKindText(SYSKIND kind) {
  static const char* const kNames[] = {"win16", "win32", "mac", "win64"};
  return kind <= SYS_WIN64 ? kNames[kind]
                           : "<syskind " + std::to_string(kind) + ">";
}

}  // namespace qxhost
