// Table-driven QueryInterface: each class lists, in a constant
// InterfaceTable, the interface ids it exposes and how to reach each
// interface pointer from the object. One lookup serves every object shape.
#pragma once
#include <windows.h>
#include <objbase.h>

// Row kinds.
constexpr DWORD kInterfaceTableEnd = 0;
constexpr DWORD kInterfaceRow = 1;  // hands out the pointer the row reaches

// The interface pointer of a row, from the address of the object the table
// belongs to. A function rather than a byte offset: the compiler knows where
// each base lies, and a table of functions is constant data from the start
// instead of offsets worked out by code before main.
typedef IUnknown* (*InterfaceReach)(void* object);

struct InterfaceTableEntry {
  const IID* iid;
  InterfaceReach reach;
  DWORD kind;
};

// The reach of Interface in an object of Class.
template <typename Interface, typename Class>
IUnknown* ReachInterface(void* object) {
  return static_cast<Interface*>(static_cast<Class*>(object));
}

// A row handing out the Interface base of Class for iid.
template <typename Interface, typename Class>
constexpr InterfaceTableEntry InterfaceRow(const IID& iid) {
  return {&iid, &ReachInterface<Interface, Class>, kInterfaceRow};
}

constexpr InterfaceTableEntry kInterfaceTableEndRow = {nullptr, nullptr,
                                                       kInterfaceTableEnd};

// The lookup behind every QueryInterface. IID_IUnknown is answered with the
// first row's pointer (the object's identity) without walking the table;
// otherwise the first row naming the interface id answers. The pointer
// handed out is AddRef'd through its own table of operations.
HRESULT LookupInterface(void* object, const InterfaceTableEntry* table,
                        REFIID iid, void** out);
