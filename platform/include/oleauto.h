// OLE Automation helpers: BSTR management and numeric conversion from text.
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

#define VAR_LOCALBOOL 0x10
QXPLATFORM_API HRESULT WINAPI VarUI4FromStr(OLECHAR* strIn, LCID lcid,
                                            ULONG dwFlags, ULONG* pulOut);
