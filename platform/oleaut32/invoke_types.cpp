// Parameter shapes from type descriptions. "IFoo*" is one pointer to a
// user-defined interface: the interface pointer itself; "IFoo**" passes
// it by reference. One more level of pointer than that cannot travel.
#include "invoke_types.h"

#include "variant_types.h"

namespace qxplatform {
namespace internal {
namespace {

// Aliases of aliases deeper than this mean a chain that loops.
constexpr int kMaxDepth = 16;

// Follows pointers and aliases down to a value; pointers counts the levels
// of VT_PTR on the way, an interface pointer's own level included.
HRESULT Resolve(ITypeInfo* types, const TYPEDESC& type, int depth,
                int* pointers, ValueShape* shape) {
  if (depth > kMaxDepth) return DISP_E_BADVARTYPE;
  if (type.vt == VT_PTR) {
    if (type.lptdesc == nullptr) return DISP_E_BADVARTYPE;
    ++*pointers;
    return Resolve(types, *type.lptdesc, depth + 1, pointers, shape);
  }
  if (type.vt == VT_HRESULT) {
    shape->vt = VT_ERROR;
    return S_OK;
  }
  if (type.vt != VT_USERDEFINED) {
    if (!TraitsOf(type.vt).travels) return DISP_E_BADVARTYPE;
    shape->vt = type.vt;
    return S_OK;
  }
  ITypeInfo* target = nullptr;
  HRESULT hr = types->GetRefTypeInfo(type.hreftype, &target);
  if (FAILED(hr)) return hr;
  TYPEATTR* attr = nullptr;
  hr = target->GetTypeAttr(&attr);
  if (SUCCEEDED(hr)) {
    switch (attr->typekind) {
      case TKIND_ENUM:
        shape->vt = VT_I4;
        break;
      case TKIND_ALIAS:
        hr = Resolve(target, attr->tdescAlias, depth + 1, pointers, shape);
        break;
      case TKIND_INTERFACE:
      case TKIND_DISPATCH:
        if (*pointers == 0) {
          hr = DISP_E_BADVARTYPE;  // an interface is never passed by value
          break;
        }
        --*pointers;
        // IDispatch itself may be described as a plain interface.
        shape->vt =
            attr->typekind == TKIND_DISPATCH || attr->guid == IID_IDispatch
                ? VT_DISPATCH
                : VT_UNKNOWN;
        shape->hasIid =
            attr->guid != IID_IUnknown && attr->guid != IID_IDispatch;
        shape->iid = attr->guid;
        break;
      default:
        hr = DISP_E_BADVARTYPE;
        break;
    }
    target->ReleaseTypeAttr(attr);
  }
  target->Release();
  return hr;
}

}  // namespace

HRESULT ShapeOf(ITypeInfo* types, const TYPEDESC& type, ValueShape* shape) {
  *shape = ValueShape();
  int pointers = 0;
  HRESULT hr = Resolve(types, type, 0, &pointers, shape);
  if (FAILED(hr)) return hr;
  if (pointers > 1) return DISP_E_BADVARTYPE;
  shape->byRef = pointers == 1;
  return S_OK;
}

}  // namespace internal
}  // namespace qxplatform
