// The typelib command: LoadTypeLibEx without registering, then every type
// through ITypeLib and ITypeInfo as a client sees them: attributes, the
// interfaces a type implements or inherits, and each function and variable
// with its member id, kinds, vtable offset, parameters and help string. A
// dual interface prints twice: its dispatch view, then its vtable view.
#include "tools/qxhost/commands/typelib_command.h"

#include <oleauto.h>

#include <cstdio>

#include <qxplatform/controls.h>

#include "base/holders.h"
#include "tools/qxhost/script/type_library_cause.h"
#include "tools/qxhost/system/host_output.h"
#include "tools/qxhost/text/typelib_text.h"

namespace qxhost {
namespace {

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%X", value);
  return text;
}

std::string Quoted(const BSTR text) { return "\"" + NarrowText(text) + "\""; }

std::u16string WidePath(const std::string& path) {
  int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::u16string wide(length > 0 ? length : 0, u'\0');
  if (length > 0)
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &wide[0], length);
  if (!wide.empty()) wide.pop_back();  // the terminator
  return wide;
}

// Name, help string and help context of a member (MEMBERID_NIL: the type).
struct Documentation {
  std::string name;
  std::string helpString;
  DWORD helpContext = 0;
  bool hasHelpString = false;
};

HRESULT Document(ITypeInfo* info, MEMBERID memid, Documentation* doc) {
  BSTR name = nullptr;
  BSTR helpString = nullptr;
  HRESULT hr = info->GetDocumentation(memid, &name, &helpString,
                                      &doc->helpContext, nullptr);
  if (FAILED(hr)) return hr;
  doc->name = NarrowText(name);
  doc->hasHelpString = helpString != nullptr;
  doc->helpString = Quoted(helpString);
  SysFreeString(name);
  SysFreeString(helpString);
  return S_OK;
}

std::string HelpAttributes(const Documentation& doc) {
  std::string text;
  if (doc.hasHelpString) text += ", helpstring(" + doc.helpString + ")";
  if (doc.helpContext != 0)
    text += ", helpcontext(" + Hex(doc.helpContext) + ")";
  return text;
}

// "    [id(0x...), KIND": a member's line up to the attributes of its own kind.
std::string MemberLineStart(MEMBERID memid, const std::string& kind) {
  return "    [id(" + Hex(static_cast<unsigned>(memid)) + "), " + kind;
}

// ", flags(...)" when there are any.
std::string FlagsAttribute(WORD flags, std::string (*text)(WORD)) {
  return flags != 0 ? ", flags(" + text(flags) + ")" : std::string();
}

// "<help>] TYPE NAME": a member's line from its help attributes on.
std::string MemberLineEnd(const Documentation& doc, ITypeInfo* info,
                          const TYPEDESC& type) {
  return HelpAttributes(doc) + "] " + TypeText(info, type) + " " + doc.name;
}

HRESULT PrintFunction(ITypeInfo* info, UINT index) {
  FUNCDESC* func = nullptr;
  HRESULT hr = info->GetFuncDesc(index, &func);
  if (FAILED(hr)) return hr;
  Documentation doc;
  BSTR names[64] = {};
  UINT named = 0;
  hr = Document(info, func->memid, &doc);
  // By index: a property's get and put share their member id, and each
  // names its parameters its own way.
  if (SUCCEEDED(hr))
    hr = qxplatform::GetFuncNames(info, index, names, 64, &named);
  if (SUCCEEDED(hr)) {
    std::string line =
        MemberLineStart(func->memid, InvokeKindText(func->invkind)) + ", " +
        FuncKindText(func->funckind) + ", " + CallConvText(func->callconv) +
        ", oVft " + std::to_string(func->oVft);
    if (func->cParamsOpt != 0)
      line += ", optional " + std::to_string(func->cParamsOpt);
    line += FlagsAttribute(func->wFuncFlags, FuncFlagsText) +
            MemberLineEnd(doc, info, func->elemdescFunc.tdesc) + "(";
    for (SHORT p = 0; p < func->cParams; ++p) {
      const ELEMDESC& param = func->lprgelemdescParam[p];
      std::string flags = ParamFlagsText(param.paramdesc);
      std::string name = static_cast<UINT>(p + 1) < named
                             ? NarrowText(names[p + 1])
                             : "arg" + std::to_string(p);
      line += (p > 0 ? ", " : "") + (flags.empty() ? "" : "[" + flags + "] ") +
              TypeText(info, param.tdesc) + " " + name;
    }
    std::printf("%s);\n", line.c_str());
  }
  for (UINT i = 0; i < named; ++i) SysFreeString(names[i]);
  info->ReleaseFuncDesc(func);
  return hr;
}

HRESULT PrintVariable(ITypeInfo* info, UINT index) {
  VARDESC* var = nullptr;
  HRESULT hr = info->GetVarDesc(index, &var);
  if (FAILED(hr)) return hr;
  Documentation doc;
  hr = Document(info, var->memid, &doc);
  if (SUCCEEDED(hr)) {
    std::string line = MemberLineStart(var->memid, VarKindText(var->varkind));
    if (var->varkind == VAR_PERINSTANCE)
      line += ", offset " + std::to_string(var->oInst);
    line += FlagsAttribute(var->wVarFlags, VarFlagsText) +
            MemberLineEnd(doc, info, var->elemdescVar.tdesc);
    if (var->varkind == VAR_CONST)
      line += " = " + VariantText(*var->lpvarValue);
    std::printf("%s;\n", line.c_str());
  }
  info->ReleaseVarDesc(var);
  return hr;
}

// The interfaces a type implements (coclass) or inherits from.
HRESULT PrintImplTypes(ITypeInfo* info, const TYPEATTR& attr) {
  for (UINT i = 0; i < attr.cImplTypes; ++i) {
    HREFTYPE href = 0;
    INT flags = 0;
    ComPtr<ITypeInfo> target;
    Documentation doc;
    HRESULT hr = info->GetRefTypeOfImplType(i, &href);
    if (SUCCEEDED(hr)) hr = info->GetImplTypeFlags(i, &flags);
    if (SUCCEEDED(hr)) hr = info->GetRefTypeInfo(href, target.put());
    if (SUCCEEDED(hr)) hr = Document(target.get(), MEMBERID_NIL, &doc);
    if (FAILED(hr)) return hr;
    std::printf("    [implements, flags(%s)] %s;\n",
                ImplTypeFlagsText(flags).c_str(), doc.name.c_str());
  }
  return S_OK;
}

HRESULT PrintType(ITypeInfo* info, const char* view) {
  TYPEATTR* attr = nullptr;
  HRESULT hr = info->GetTypeAttr(&attr);
  if (FAILED(hr)) return hr;
  Documentation doc;
  hr = Document(info, MEMBERID_NIL, &doc);
  if (SUCCEEDED(hr)) {
    std::printf(
        "  [uuid(%s), version(%u.%u), flags(%s), size %lu, alignment %u, "
        "vtable %u%s]%s\n",
        GuidString(attr->guid).c_str(), attr->wMajorVerNum, attr->wMinorVerNum,
        TypeFlagsText(attr->wTypeFlags).c_str(),
        static_cast<unsigned long>(attr->cbSizeInstance), attr->cbAlignment,
        attr->cbSizeVft, HelpAttributes(doc).c_str(), view);
    std::string heading = TypeKindText(attr->typekind) + " " + doc.name;
    if (attr->typekind == TKIND_ALIAS)
      heading += " = " + TypeText(info, attr->tdescAlias);
    std::printf("  %s {\n", heading.c_str());
    hr = PrintImplTypes(info, *attr);
  }
  for (UINT i = 0; SUCCEEDED(hr) && i < attr->cFuncs; ++i)
    hr = PrintFunction(info, i);
  for (UINT i = 0; SUCCEEDED(hr) && i < attr->cVars; ++i)
    hr = PrintVariable(info, i);
  if (SUCCEEDED(hr)) std::printf("  };\n");
  const bool dual = attr->typekind == TKIND_DISPATCH &&
                    (attr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
  info->ReleaseTypeAttr(attr);
  if (SUCCEEDED(hr) && dual) {
    HREFTYPE href = 0;
    ComPtr<ITypeInfo> vtable;
    hr = info->GetRefTypeOfImplType(static_cast<UINT>(-1), &href);
    if (SUCCEEDED(hr)) hr = info->GetRefTypeInfo(href, vtable.put());
    if (SUCCEEDED(hr)) hr = PrintType(vtable.get(), " // vtable view");
  }
  return hr;
}

HRESULT PrintLibrary(ITypeLib* lib) {
  TLIBATTR* attr = nullptr;
  HRESULT hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  BSTR name = nullptr;
  BSTR helpString = nullptr;
  BSTR helpFile = nullptr;
  DWORD helpContext = 0;
  hr = lib->GetDocumentation(-1, &name, &helpString, &helpContext, &helpFile);
  if (SUCCEEDED(hr)) {
    std::string extra;
    if (helpString != nullptr)
      extra += ", helpstring(" + Quoted(helpString) + ")";
    if (helpFile != nullptr) extra += ", helpfile(" + Quoted(helpFile) + ")";
    if (helpContext != 0) extra += ", helpcontext(" + Hex(helpContext) + ")";
    std::printf(
        "[uuid(%s), version(%u.%u), lcid(%s), syskind(%s), flags(%s)%s]\n",
        GuidString(attr->guid).c_str(), attr->wMajorVerNum, attr->wMinorVerNum,
        Hex(attr->lcid).c_str(), SysKindText(attr->syskind).c_str(),
        Hex(attr->wLibFlags).c_str(), extra.c_str());
    std::printf("library %s {\n", NarrowText(name).c_str());
  }
  SysFreeString(name);
  SysFreeString(helpString);
  SysFreeString(helpFile);
  lib->ReleaseTLibAttr(attr);
  UINT count = lib->GetTypeInfoCount();
  for (UINT i = 0; SUCCEEDED(hr) && i < count; ++i) {
    ComPtr<ITypeInfo> info;
    hr = lib->GetTypeInfo(i, info.put());
    if (SUCCEEDED(hr)) hr = PrintType(info.get(), "");
  }
  if (SUCCEEDED(hr)) std::printf("}\n");
  return hr;
}

}  // namespace

bool ParseTypelibArguments(const std::vector<std::string>& words,
                           TypelibRequest* request, std::string* error) {
  if (words.size() != 1 || words[0].empty()) {
    *error = "typelib needs one file";
    return false;
  }
  request->path = words[0];
  return true;
}

int RunTypelibCommand(const TypelibRequest& request) {
  std::u16string path = WidePath(request.path);
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
  if (FAILED(hr))
    return HresultError(hr, request.path + ": " + TypeLibraryProblem(hr));
  hr = PrintLibrary(lib.get());
  std::fflush(stdout);
  if (FAILED(hr))
    return HresultError(hr, request.path + ": its descriptions cannot be read");
  return kExitSuccess;
}

}  // namespace qxhost
