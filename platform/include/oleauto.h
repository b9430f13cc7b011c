// OLE Automation helpers: BSTR management, variants and their conversions,
// calls through a vtable slot, and loading and registering type libraries.
#pragma once
#include <oaidl.h>

QXPLATFORM_API BSTR WINAPI SysAllocString(const OLECHAR* psz);
QXPLATFORM_API BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);
QXPLATFORM_API BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len);
QXPLATFORM_API void WINAPI SysFreeString(BSTR bstrString);
QXPLATFORM_API UINT WINAPI SysStringLen(BSTR pbstr);
QXPLATFORM_API UINT WINAPI SysStringByteLen(BSTR bstr);

QXPLATFORM_API void WINAPI VariantInit(VARIANTARG* pvarg);
QXPLATFORM_API HRESULT WINAPI VariantClear(VARIANTARG* pvarg);
QXPLATFORM_API HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest,
                                          const VARIANTARG* pvargSrc);
QXPLATFORM_API HRESULT WINAPI VariantCopyInd(VARIANT* pvarDest,
                                             const VARIANTARG* pvargSrc);

// VariantChangeType(Ex) flags.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10
QXPLATFORM_API HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest,
                                                const VARIANTARG* pvarSrc,
                                                USHORT wFlags, VARTYPE vt);
QXPLATFORM_API HRESULT WINAPI VariantChangeTypeEx(VARIANTARG* pvargDest,
                                                  const VARIANTARG* pvarSrc,
                                                  LCID lcid, USHORT wFlags,
                                                  VARTYPE vt);

QXPLATFORM_API HRESULT WINAPI DispCallFunc(void* pvInstance, ULONG_PTR oVft,
                                           CALLCONV cc, VARTYPE vtReturn,
                                           UINT cActuals, VARTYPE* prgvt,
                                           VARIANTARG** prgpvarg,
                                           VARIANT* pvargResult);

#define VAR_LOCALBOOL 0x10
QXPLATFORM_API HRESULT WINAPI VarUI4FromStr(OLECHAR* strIn, LCID lcid,
                                            ULONG dwFlags, ULONG* pulOut);

// ---- type libraries -------------------------------------------------------
typedef enum tagREGKIND {
  REGKIND_DEFAULT = 0,  // register when the file was named without a path
  REGKIND_REGISTER = 1,
  REGKIND_NONE = 2
} REGKIND;

QXPLATFORM_API HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);
QXPLATFORM_API HRESULT WINAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind,
                                            ITypeLib** pptlib);
QXPLATFORM_API HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor,
                                             WORD wVerMinor, LCID lcid,
                                             ITypeLib** pptlib);
QXPLATFORM_API HRESULT WINAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj,
                                                    USHORT wMin, LCID lcid,
                                                    LPBSTR lpbstrPathName);
QXPLATFORM_API HRESULT WINAPI RegisterTypeLib(ITypeLib* ptlib,
                                              LPCOLESTR szFullPath,
                                              LPCOLESTR szHelpDir);
QXPLATFORM_API HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor,
                                                WORD wVerMinor, LCID lcid,
                                                SYSKIND syskind);
QXPLATFORM_API void WINAPI ClearCustData(LPCUSTDATA pCustData);
