// A type library as read from its file: plain values, every reference
// already checked, so nothing that serves ITypeLib and ITypeInfo needs to
// touch the file's bytes again. Texts are kept once each and referred to by
// index; type descriptions are nodes in one pool.
#pragma once
#include <oaidl.h>

#include <map>
#include <string>
#include <vector>

namespace qxplatform {
namespace internal {

constexpr int32_t kNone = -1;

// The size of a pointer in a system of kind sysKind, which is the step
// between the vtable slots a library of that kind describes.
constexpr ULONG PointerSizeOf(SYSKIND sysKind) {
  return sysKind == SYS_WIN64 ? 8 : 4;
}

// The kind of system this build runs as: what the platform's own libraries
// are, and what a caller that names no library gets.
constexpr SYSKIND kOwnSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

// A typed value from the file: an enum constant, a default value or a
// custom data value.
struct Constant {
  VARTYPE vt = VT_EMPTY;
  uint64_t bits = 0;  // the value's bytes for the numeric types
  // VT_BSTR: index in TypeLibModel::texts; kNone for the null string.
  int32_t text = kNone;
};

struct CustomEntry {
  GUID guid;
  Constant value;
};
typedef std::vector<CustomEntry> CustomList;

// One TYPEDESC: child for VT_PTR and VT_SAFEARRAY, array for VT_CARRAY,
// href for VT_USERDEFINED.
struct TypeNode {
  VARTYPE vt = VT_EMPTY;
  int32_t child = kNone;
  int32_t array = kNone;
  HREFTYPE href = 0;
};

struct ArrayShape {
  int32_t element = kNone;  // node
  std::vector<SAFEARRAYBOUND> bounds;
};

struct Param {
  int32_t type = kNone;  // node
  int32_t name = kNone;  // text; a parameter may have none
  USHORT flags = 0;
  bool hasDefault = false;
  Constant defaultValue;
  CustomList custom;
};

struct Function {
  MEMBERID memid = MEMBERID_NIL;
  int32_t name = kNone;
  int32_t returnType = kNone;  // node
  FUNCKIND funcKind = FUNC_PUREVIRTUAL;
  INVOKEKIND invokeKind = INVOKE_FUNC;
  CALLCONV callConv = CC_STDCALL;
  SHORT oVft = 0;
  SHORT cParamsOpt = 0;
  WORD flags = 0;
  DWORD helpContext = 0;
  int32_t docString = kNone;
  DWORD helpStringContext = 0;
  std::vector<Param> params;
  CustomList custom;
};

struct Variable {
  MEMBERID memid = MEMBERID_NIL;
  int32_t name = kNone;
  int32_t type = kNone;  // node
  VARKIND varKind = VAR_PERINSTANCE;
  WORD flags = 0;
  ULONG oInst = 0;
  Constant value;  // VAR_CONST
  DWORD helpContext = 0;
  int32_t docString = kNone;
  DWORD helpStringContext = 0;
  CustomList custom;
};

struct ImplType {
  HREFTYPE href = 0;
  INT flags = 0;
  CustomList custom;
};

struct TypeEntry {
  TYPEKIND kind = TKIND_ENUM;
  bool hasGuid = false;
  GUID guid = {};
  int32_t name = kNone;
  int32_t docString = kNone;
  DWORD helpContext = 0;
  DWORD helpStringContext = 0;
  WORD flags = 0;
  WORD majorVersion = 0;
  WORD minorVersion = 0;
  WORD alignment = 0;
  WORD cbSizeVft = 0;
  ULONG cbSizeInstance = 0;
  // Interfaces and dispatch interfaces: the base's href, kNone for a root.
  int64_t base = kNone;
  int32_t aliasType = kNone;  // node, TKIND_ALIAS
  std::vector<Function> functions;
  std::vector<Variable> variables;
  std::vector<ImplType> implTypes;  // coclasses
  CustomList custom;

  bool IsDual() const {
    return kind == TKIND_DISPATCH && (flags & TYPEFLAG_FDUAL) != 0;
  }
};

// An imported library, by identity; its file name only as written.
struct ImportedLibrary {
  GUID libid = {};
  LCID lcid = 0;
  WORD majorVersion = 0;
  WORD minorVersion = 0;
  int32_t fileName = kNone;  // text
};

// A type taken from an imported library: by GUID, or by index when the
// file names no GUID for it.
struct ImportedType {
  int32_t library = kNone;  // index in TypeLibModel::importedLibraries
  bool byGuid = true;
  GUID guid = {};
  int32_t typeIndex = 0;
};

struct TypeLibModel {
  GUID libid = {};
  LCID lcid = 0;
  SYSKIND sysKind = SYS_WIN32;
  WORD majorVersion = 0;
  WORD minorVersion = 0;
  WORD flags = 0;
  int32_t name = kNone;
  int32_t docString = kNone;
  DWORD helpContext = 0;
  DWORD helpStringContext = 0;
  int32_t helpFile = kNone;
  int32_t helpStringDll = kNone;
  int64_t dispatchHref = kNone;  // IDispatch, where the library refers to it
  std::vector<TypeEntry> types;
  std::vector<std::u16string> texts;
  std::vector<TypeNode> nodes;
  std::vector<ArrayShape> arrays;
  std::vector<ImportedLibrary> importedLibraries;
  std::map<HREFTYPE, ImportedType> importedTypes;  // by external href
  CustomList custom;

  // A text by index; kNone is the empty text.
  const std::u16string& Text(int32_t index) const {
    static const std::u16string kEmpty;
    return index == kNone ? kEmpty : texts[static_cast<size_t>(index)];
  }
  // A text by index, null for kNone: what a documentation call answers as
  // a null BSTR.
  const std::u16string* TextOrNull(int32_t index) const {
    return index == kNone ? nullptr : &texts[static_cast<size_t>(index)];
  }
  // The size of a pointer in the system the library was made for.
  ULONG PointerSize() const { return PointerSizeOf(sysKind); }
};

}  // namespace internal
}  // namespace qxplatform
