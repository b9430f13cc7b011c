// The structures a Windows image and the platform hand each other, held to
// the sizes, alignments and field offsets Windows gives them on 32-bit x86.
// A 32-bit build runs real Windows images over the platform: a structure
// that differed by one byte would be read wrong by one side without any
// call failing. Nothing here runs; the build fails when a layout drifts.
#include <windows.h>
#include <oaidl.h>
#include <objbase.h>

#include <stddef.h>

#if defined(__i386__)

#define QX_LAYOUT(type, size, align)                                  \
  static_assert(sizeof(type) == (size), #type " has the wrong size"); \
  static_assert(alignof(type) == (align), #type " has the wrong alignment")
#define QX_OFFSET(type, field, offset)             \
  static_assert(offsetof(type, field) == (offset), \
                #type "::" #field " is at the wrong offset")

QX_LAYOUT(GUID, 16, 4);
QX_LAYOUT(FILETIME, 8, 4);
QX_LAYOUT(SECURITY_ATTRIBUTES, 12, 4);
QX_LAYOUT(CRITICAL_SECTION, 24, 4);
QX_LAYOUT(SYSTEM_INFO, 36, 4);
QX_LAYOUT(OSVERSIONINFOA, 148, 4);
QX_LAYOUT(OSVERSIONINFOEXA, 156, 4);

QX_LAYOUT(CY, 8, 8);
QX_LAYOUT(DECIMAL, 16, 8);
QX_OFFSET(DECIMAL, Hi32, 4);
QX_OFFSET(DECIMAL, Lo64, 8);
QX_LAYOUT(VARIANT, 16, 8);
QX_OFFSET(VARIANT, llVal, 8);
QX_OFFSET(VARIANT, dblVal, 8);
QX_OFFSET(VARIANT, bstrVal, 8);
QX_LAYOUT(DISPPARAMS, 16, 4);
QX_LAYOUT(EXCEPINFO, 32, 4);
QX_OFFSET(EXCEPINFO, pfnDeferredFillIn, 24);
QX_OFFSET(EXCEPINFO, scode, 28);

QX_LAYOUT(TLIBATTR, 32, 4);
QX_OFFSET(TLIBATTR, lcid, 16);
QX_OFFSET(TLIBATTR, syskind, 20);
QX_OFFSET(TLIBATTR, wMajorVerNum, 24);
QX_OFFSET(TLIBATTR, wLibFlags, 28);
QX_LAYOUT(TYPEDESC, 8, 4);
QX_LAYOUT(ARRAYDESC, 20, 4);
QX_LAYOUT(SAFEARRAYBOUND, 8, 4);
QX_LAYOUT(IDLDESC, 8, 4);
QX_LAYOUT(PARAMDESC, 8, 4);
QX_LAYOUT(PARAMDESCEX, 24, 8);
QX_OFFSET(PARAMDESCEX, varDefaultValue, 8);
QX_LAYOUT(ELEMDESC, 16, 4);
QX_LAYOUT(TYPEATTR, 76, 4);
QX_OFFSET(TYPEATTR, lcid, 16);
QX_OFFSET(TYPEATTR, memidConstructor, 24);
QX_OFFSET(TYPEATTR, lpstrSchema, 32);
QX_OFFSET(TYPEATTR, cbSizeInstance, 36);
QX_OFFSET(TYPEATTR, typekind, 40);
QX_OFFSET(TYPEATTR, cFuncs, 44);
QX_OFFSET(TYPEATTR, cbSizeVft, 50);
QX_OFFSET(TYPEATTR, cbAlignment, 52);
QX_OFFSET(TYPEATTR, wTypeFlags, 54);
QX_OFFSET(TYPEATTR, wMajorVerNum, 56);
QX_OFFSET(TYPEATTR, tdescAlias, 60);
QX_OFFSET(TYPEATTR, idldescType, 68);
QX_LAYOUT(FUNCDESC, 52, 4);
QX_OFFSET(FUNCDESC, lprgscode, 4);
QX_OFFSET(FUNCDESC, lprgelemdescParam, 8);
QX_OFFSET(FUNCDESC, funckind, 12);
QX_OFFSET(FUNCDESC, invkind, 16);
QX_OFFSET(FUNCDESC, callconv, 20);
QX_OFFSET(FUNCDESC, cParams, 24);
QX_OFFSET(FUNCDESC, cParamsOpt, 26);
QX_OFFSET(FUNCDESC, oVft, 28);
QX_OFFSET(FUNCDESC, cScodes, 30);
QX_OFFSET(FUNCDESC, elemdescFunc, 32);
QX_OFFSET(FUNCDESC, wFuncFlags, 48);
QX_LAYOUT(VARDESC, 36, 4);
QX_OFFSET(VARDESC, lpstrSchema, 4);
QX_OFFSET(VARDESC, oInst, 8);
QX_OFFSET(VARDESC, elemdescVar, 12);
QX_OFFSET(VARDESC, wVarFlags, 28);
QX_OFFSET(VARDESC, varkind, 32);
QX_LAYOUT(CUSTDATAITEM, 32, 8);
QX_OFFSET(CUSTDATAITEM, varValue, 16);
QX_LAYOUT(CUSTDATA, 8, 4);
QX_LAYOUT(COSERVERINFO, 16, 4);

#endif  // __i386__
