// The server module's lifetime: attach and detach through the entry point,
// the TermFunctionList, DllCanUnloadNow and the class-object lookup.
#include <objbase.h>

#include <thread>
#include <vector>

#include "installer/iinstall_korvex.h"
#include "installer/korvex_standin.h"
#include "module/attached_module.h"
#include "module/server_module.h"
#include "installer/object_map.h"

namespace {

// Records the order in which term callbacks run.
std::vector<DWORD_PTR>& CallOrder() {
  static std::vector<DWORD_PTR> order;
  return order;
}
void RecordCall(DWORD_PTR context) { CallOrder().push_back(context); }

// {11111111-2222-3333-4444-555555555555}: no class of this library.
constexpr CLSID kUnknownClass = {
    0x11111111,
    0x2222,
    0x3333,
    {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

}  // namespace

using ModuleLifetimeTest = ModuleTest;

TEST_F(ModuleLifetimeTest, AttachFillsTheRecordAndMayUnloadAtOnce) {
  const long heapsBefore = qxplatform::LiveHeaps();
  Attach();
  const ServerModule& module = CurrentModule();
  EXPECT_EQ(&module, &ProcessServerModule());
  EXPECT_EQ(module.instance, FakeInstance());
  EXPECT_NE(module.objectMap, nullptr);
  EXPECT_EQ(module.lockCount, 0);
  EXPECT_NE(module.heap.mainHeap, nullptr);
  EXPECT_EQ(module.heap.heapArray, nullptr);
  EXPECT_EQ(module.termListHead, nullptr);
  EXPECT_EQ(qxplatform::LiveHeaps(), heapsBefore + 1);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  Detach();
  EXPECT_EQ(qxplatform::LiveHeaps(), heapsBefore);
  EXPECT_EQ(CurrentModule().heap.mainHeap, nullptr);
}

TEST_F(ModuleLifetimeTest, ThreadNotificationsAreAnsweredTrue) {
  Attach();
  EXPECT_EQ(DllMain(FakeInstance(), DLL_THREAD_ATTACH, nullptr), TRUE);
  EXPECT_EQ(DllMain(FakeInstance(), DLL_THREAD_DETACH, nullptr), TRUE);
  EXPECT_EQ(CurrentModule().instance, FakeInstance());
}

TEST_F(ModuleLifetimeTest, DetachWithoutAttachOrTwiceDoesNothing) {
  EXPECT_EQ(DllMain(FakeInstance(), DLL_PROCESS_DETACH, nullptr), TRUE);
  Attach();
  CallOrder().clear();
  ASSERT_EQ(AddTermFunction(&RecordCall, 1), S_OK);
  Detach();
  EXPECT_EQ(DllMain(FakeInstance(), DLL_PROCESS_DETACH, nullptr), TRUE);
  EXPECT_EQ(CallOrder(), (std::vector<DWORD_PTR>{1}));
  EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore);
}

TEST_F(ModuleLifetimeTest, ObjectMapHasOneEntryForInstallKorvex) {
  Attach();
  const ObjectMapEntry* map = CurrentModule().objectMap;
  ASSERT_NE(map[0].classId, nullptr);
  EXPECT_TRUE(IsEqualGUID(*map[0].classId, CLSID_InstallKorvex));
  EXPECT_NE(map[0].classObjectCreator, nullptr);
  EXPECT_NE(map[0].instanceCreator, nullptr);
  EXPECT_EQ(map[0].cachedClassObject, nullptr);
  EXPECT_EQ(map[1].classId, nullptr);
}

TEST_F(ModuleLifetimeTest, AttachAgainAfterDetachStartsAfresh) {
  Attach();
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)),
            S_OK);
  factory->Release();
  Detach();
  EXPECT_EQ(ProductObjectMap()[0].cachedClassObject, nullptr);
  EXPECT_EQ(ProcessServerModule().objectMap, nullptr);
  Attach();
  EXPECT_EQ(LockCount(), 0);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ModuleLifetimeTest, TermFunctionsRunNewestFirstAtDetach) {
  Attach();
  CallOrder().clear();
  for (DWORD_PTR context = 1; context <= 3; ++context) {
    ASSERT_EQ(AddTermFunction(&RecordCall, context), S_OK);
  }
  EXPECT_TRUE(CallOrder().empty());
  Detach();
  EXPECT_EQ(CallOrder(), (std::vector<DWORD_PTR>{3, 2, 1}));
}

TEST_F(ModuleLifetimeTest, TermFunctionWithoutMemoryIsRefused) {
  Attach();
  CallOrder().clear();
  qxplatform::FailHeapAllocAt(1);
  EXPECT_EQ(AddTermFunction(&RecordCall, 7), E_OUTOFMEMORY);
  EXPECT_EQ(CurrentModule().termListHead, nullptr);
  Detach();
  EXPECT_TRUE(CallOrder().empty());
}

TEST_F(ModuleLifetimeTest, LockServerHoldsTheLibraryUntilUnlocked) {
  Attach();
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)),
            S_OK);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)),
            S_OK);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ModuleLifetimeTest, CanUnloadOnceEveryObjectIsReleased) {
  InstallProviderEntry();
  Attach();
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)),
            S_OK);
  IInstallKorvex* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IInstallKorvex,
                                    reinterpret_cast<void**>(&object)),
            S_OK);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  object->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ModuleLifetimeTest, UnknownClassIsNotAvailable) {
  Attach();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(kUnknownClass, IID_IClassFactory, &out),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CurrentModule().objectMap[0].cachedClassObject, nullptr);
}

TEST_F(ModuleLifetimeTest, NullOutPointerIsRefused) {
  Attach();
  EXPECT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory, nullptr),
            E_POINTER);
  EXPECT_EQ(CurrentModule().objectMap[0].cachedClassObject, nullptr);
}

TEST_F(ModuleLifetimeTest, TwoRequestsGiveTheSameFactory) {
  Attach();
  IClassFactory* first = nullptr;
  IClassFactory* second = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                              reinterpret_cast<void**>(&first)),
            S_OK);
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IUnknown,
                              reinterpret_cast<void**>(&second)),
            S_OK);
  EXPECT_EQ(first, second);
  EXPECT_EQ(static_cast<IUnknown*>(first),
            CurrentModule().objectMap[0].cachedClassObject);
  first->Release();
  second->Release();
}

TEST_F(ModuleLifetimeTest, UnsupportedInterfaceKeepsTheFactoryCached) {
  Attach();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IDispatch, &out),
            E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_NE(CurrentModule().objectMap[0].cachedClassObject, nullptr);
  EXPECT_EQ(LockCount(), 0);
}

TEST_F(ModuleLifetimeTest, FactoryWithoutMemoryIsRetriedOnTheNextRequest) {
  Attach();
  void* out = reinterpret_cast<void*>(1);
  qxplatform::FailHeapAllocAt(1);
  EXPECT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory, &out),
            E_OUTOFMEMORY);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CurrentModule().objectMap[0].cachedClassObject, nullptr);
  EXPECT_EQ(LockCount(), 0);
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory, &out),
            S_OK);
  EXPECT_NE(out, nullptr);
  static_cast<IUnknown*>(out)->Release();
}

TEST_F(ModuleLifetimeTest, RacingRequestsCreateOneFactory) {
  Attach();
  constexpr int kThreads = 8;
  constexpr int kRounds = 50;
  const long blocksBefore = qxplatform::LiveHeapBlocks();
  std::vector<IUnknown*> seen(kThreads * kRounds, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &seen] {
      for (int round = 0; round < kRounds; ++round) {
        void* out = nullptr;
        if (DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory, &out) ==
            S_OK) {
          seen[t * kRounds + round] = static_cast<IUnknown*>(out);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // One factory block, however many threads raced to create it.
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksBefore + 1);
  for (IUnknown* factory : seen) {
    ASSERT_EQ(factory, seen[0]);
  }
  EXPECT_EQ(LockCount(), 1);
  for (IUnknown* factory : seen) factory->Release();
  EXPECT_EQ(LockCount(), 0);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}
