// Table-driven QueryInterface: each class lists, in a constant
// InterfaceTable, the interface ids it exposes and where in the object each
// interface pointer lies. One lookup serves every object shape.
#pragma once
#include <windows.h>
#include <objbase.h>

// Row kinds.
constexpr DWORD kInterfaceTableEnd = 0;
constexpr DWORD kInterfaceRow = 1;  // hands out object address + offset

struct InterfaceTableEntry {
  const IID* iid;
  DWORD offset;
  DWORD kind;
};

// Offset of the Interface base within Class, taken from the class layout by
// converting a pointer to a stand-in object at a fixed address (no object is
// touched).
template <typename Interface, typename Class>
DWORD InterfaceOffset() {
  constexpr UINT_PTR kStandInAddress = 0x10000;
  Class* const standIn = reinterpret_cast<Class*>(kStandInAddress);
  return static_cast<DWORD>(
      reinterpret_cast<UINT_PTR>(static_cast<Interface*>(standIn)) -
      kStandInAddress);
}

// The lookup behind every QueryInterface. IID_IUnknown is answered with the
// first row's pointer (the object's identity) without walking the table;
// otherwise the first row naming the interface id answers. The pointer
// handed out is AddRef'd through its own table of operations.
HRESULT LookupInterface(void* object, const InterfaceTableEntry* table,
                        REFIID iid, void** out);
