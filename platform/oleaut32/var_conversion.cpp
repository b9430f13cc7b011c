// VarUI4FromStr: a number in text as an unsigned 32-bit integer, read as
// VariantChangeType reads text (see number_text.h).
#include <oleauto.h>

#include <string>

#include "var_change_type.h"

HRESULT WINAPI VarUI4FromStr(OLECHAR* strIn, LCID lcid, ULONG dwFlags,
                             ULONG* pulOut) {
  (void)lcid;
  (void)dwFlags;
  if (strIn == nullptr || pulOut == nullptr) return E_INVALIDARG;
  VARIANT value;
  HRESULT hr = qxplatform::internal::TextToNumber(
      strIn, std::char_traits<OLECHAR>::length(strIn), VT_UI4, &value);
  if (FAILED(hr)) return hr;
  *pulOut = value.ulVal;
  return S_OK;
}
