// The ServerModule record's lifecycle: initialisation at process attach,
// termination at process detach, the module lock count and the
// TermFunctionList of clean-up callbacks.
#include "module/server_module.h"

#include <new>

#include "base/holders.h"
#include "base/result_macros.h"

namespace {

// The process's one record. Until a module is initialised it is all zero,
// so the heap hands out nothing and the lock count reads 0.
ServerModule g_serverModule;
ServerModule* g_currentModule = &g_serverModule;

void CallInitTermHooks(ObjectMapEntry* map, BOOL starting) {
  for (ObjectMapEntry* entry = map; entry->classId != nullptr; ++entry) {
    if (entry->initTermHook != nullptr) entry->initTermHook(starting);
  }
}

void ReleaseClassObjects(ObjectMapEntry* map) {
  for (ObjectMapEntry* entry = map; entry->classId != nullptr; ++entry) {
    if (entry->cachedClassObject != nullptr) {
      entry->cachedClassObject->Release();
      entry->cachedClassObject = nullptr;
    }
    if (entry->initTermHook != nullptr) entry->initTermHook(/*starting=*/FALSE);
  }
}

// Runs newest first; no lock, as no other thread can be in the library.
void RunTermFunctions(ServerModule& module) {
  TermFunctionNode* node = module.termListHead;
  module.termListHead = nullptr;
  while (node != nullptr) {
    TermFunctionNode* next = node->next;
    node->callback(node->context);
    ModuleFree(node);
    node = next;
  }
}

}  // namespace

ServerModule& ProcessServerModule() { return g_serverModule; }

ServerModule& CurrentModule() { return *g_currentModule; }

void InitializeModule(ServerModule& module, ObjectMapEntry* map,
                      HINSTANCE instance) {
  g_currentModule = &module;
  module.objectMap = map;
  module.instance = instance;
  module.lockCount = 0;
  module.serverLocks = 0;
  module.heap = ModuleHeap{};
  InitializeCriticalSection(&module.generalLock);
  InitializeCriticalSection(&module.classObjectLock);
  module.termListHead = nullptr;
  CallInitTermHooks(map, /*starting=*/TRUE);
  module.heap.Create();
}

void TerminateModule(ServerModule& module) {
  // A module that was never initialised, or is already terminated, has
  // nothing left to give back.
  if (module.objectMap == nullptr) return;
  ReleaseClassObjects(module.objectMap);
  DeleteCriticalSection(&module.classObjectLock);
  DeleteCriticalSection(&module.generalLock);
  RunTermFunctions(module);
  module.heap.Destroy();
  module.objectMap = nullptr;
}

LONG LockModule() { return InterlockedIncrement(&CurrentModule().lockCount); }

LONG UnlockModule() { return InterlockedDecrement(&CurrentModule().lockCount); }

void AddServerLock() {
  InterlockedIncrement(&CurrentModule().serverLocks);
  LockModule();
}

void RemoveServerLock() {
  volatile LONG* locks = &CurrentModule().serverLocks;
  for (;;) {
    const LONG held = InterlockedCompareExchange(locks, 0, 0);
    if (held <= 0) return;
    if (InterlockedCompareExchange(locks, held - 1, held) == held) break;
  }
  UnlockModule();
}

void* ModuleAlloc(SIZE_T size) { return CurrentModule().heap.Allocate(size); }

void* ModuleRealloc(void* block, SIZE_T size) {
  return CurrentModule().heap.Reallocate(block, size);
}

void ModuleFree(void* block) { CurrentModule().heap.Free(block); }

const Allocator kModuleHeapAllocator = {&ModuleAlloc, &ModuleRealloc,
                                        &ModuleFree};

HRESULT AddTermFunction(TermCallback callback, DWORD_PTR context) {
  void* memory = ModuleAlloc(sizeof(TermFunctionNode));
  RETURN_IF_NULL_ALLOC(memory);
  ServerModule& module = CurrentModule();
  TermFunctionNode* node =
      new (memory) TermFunctionNode{callback, context, nullptr};
  CriticalSectionGuard guard(module.generalLock);
  node->next = module.termListHead;
  module.termListHead = node;
  return S_OK;
}
