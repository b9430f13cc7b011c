// The interface table lookup.
#include "com/interface_table.h"

#include "base/guid_compare.h"
#include "base/result_macros.h"

namespace {

IUnknown* InterfaceAt(void* object, const InterfaceTableEntry& row) {
  return row.reach(object);
}

HRESULT HandOut(IUnknown* pointer, void** out) {
  pointer->AddRef();
  *out = pointer;
  return S_OK;
}

}  // namespace

HRESULT LookupInterface(void* object, const InterfaceTableEntry* table,
                        REFIID iid, void** out) {
  RETURN_HR_IF_NULL(E_POINTER, out);
  *out = nullptr;
  if (IsSameGuid(iid, IID_IUnknown)) {
    return HandOut(InterfaceAt(object, table[0]), out);
  }
  for (const InterfaceTableEntry* row = table; row->kind != kInterfaceTableEnd;
       ++row) {
    if (row->kind == kInterfaceRow && IsSameGuid(*row->iid, iid)) {
      return HandOut(InterfaceAt(object, *row), out);
    }
  }
  return E_NOINTERFACE;
}
