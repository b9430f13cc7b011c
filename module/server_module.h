// The process-wide state of the library: the one ServerModule record, the
// ObjectMap of creatable classes, the module lock count that decides
// whether the library may unload, and the TermFunctionList of clean-up
// callbacks run at process detach.
#pragma once
#include <windows.h>
#include <objbase.h>

#include "base/allocator.h"
#include "base/registration_step.h"
#include "module/module_heap.h"

// Registers (doRegister true) or unregisters a class's entries. When
// registering, then is the rest of the library's registration: the hook
// runs it once its entries are written and, when it fails, takes back the
// entries this call wrote before returning its failure. Unregistering
// passes null.
typedef HRESULT (*RegistrationHook)(BOOL doRegister,
                                    const RegistrationStep* then);
typedef HRESULT (*InstanceCreator)(IUnknown* outer, REFIID iid, void** out);
typedef HRESULT (*ClassObjectCreator)(InstanceCreator creator, REFIID iid,
                                      void** out);
typedef void (*InitTermHook)(BOOL starting);
typedef void (*TermCallback)(DWORD_PTR context);

struct ObjectMapEntry {
  const CLSID* classId;  // null ends the map
  RegistrationHook registrationHook;
  ClassObjectCreator classObjectCreator;
  InstanceCreator instanceCreator;
  IUnknown* cachedClassObject;  // one reference, not counted as a module lock
  InitTermHook initTermHook;
};

struct TermFunctionNode {
  TermCallback callback;
  DWORD_PTR context;
  TermFunctionNode* next;
};

struct ServerModule {
  HINSTANCE instance;
  ObjectMapEntry* objectMap;
  volatile LONG lockCount;
  volatile LONG serverLocks;  // the part of lockCount taken by LockServer
  ModuleHeap heap;
  CRITICAL_SECTION generalLock;
  CRITICAL_SECTION classObjectLock;
  TermFunctionNode* termListHead;
};

// The process's one statically allocated record, the one DllMain
// initialises.
ServerModule& ProcessServerModule();
// The process's current module, set by InitializeModule.
ServerModule& CurrentModule();

// Process attach / detach, in the order the module requires.
void InitializeModule(ServerModule& module, ObjectMapEntry* map,
                      HINSTANCE instance);
void TerminateModule(ServerModule& module);

// Lock count changes (interlocked); return the new count.
LONG LockModule();
LONG UnlockModule();

// A client's explicit hold on the server (IClassFactory::LockServer). An
// unlock without a matching lock does nothing, so that it can never give
// back a lock that a live object or a factory reference holds.
void AddServerLock();
void RemoveServerLock();

// Allocation from the current module's heap.
void* ModuleAlloc(SIZE_T size);
void* ModuleRealloc(void* block, SIZE_T size);
void ModuleFree(void* block);
// The same, for code that takes its allocator from the caller.
extern const Allocator kModuleHeapAllocator;

// Pushes a clean-up callback at the head of the TermFunctionList.
// E_OUTOFMEMORY when no node can be had.
HRESULT AddTermFunction(TermCallback callback, DWORD_PTR context);
