// Asks for the options on IDispatch, the interface script calls through.
// The supported options are read first, as browsers do, so an object that
// cannot be made safe is not asked to change anything.
#include "tools/qxhost/script/object_safety.h"

#include <oaidl.h>
#include <objsafe.h>

#include "base/holders.h"

namespace qxhost {

HRESULT MakeSafeForScripting(IUnknown* object, bool untrustedData) {
  ComPtr<IObjectSafety> safety;
  HRESULT hr = object->QueryInterface(IID_IObjectSafety, safety.put_void());
  if (FAILED(hr)) return hr;
  if (!safety) return E_NOINTERFACE;
  DWORD wanted = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
  if (untrustedData) wanted |= INTERFACESAFE_FOR_UNTRUSTED_DATA;
  DWORD supported = 0;
  DWORD enabled = 0;
  hr = safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
  if (FAILED(hr)) return hr;
  if ((supported & wanted) != wanted) return E_FAIL;
  return safety->SetInterfaceSafetyOptions(IID_IDispatch, wanted, wanted);
}

}  // namespace qxhost
