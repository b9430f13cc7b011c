// The server module's lifetime as its loader and clients see it: attach
// and detach through the entry point, the term functions, what keeps the
// library (DllCanUnloadNow) and the class objects DllGetClassObject hands
// out, with the heaps and blocks the platform counts.
#include <objbase.h>

#include <thread>
#include <vector>

#include "installer/iinstall_korvex.h"
#include "installer/korvex_standin.h"
#include "module/attached_module.h"
#include "module/server_module.h"

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

TEST_F(ModuleLifetimeTest, AttachMakesOneHeapAndMayUnloadAtOnce) {
  const long heapsBefore = qxplatform::LiveHeaps();
  Attach();
  EXPECT_EQ(qxplatform::LiveHeaps(), heapsBefore + 1);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  Detach();
  EXPECT_EQ(qxplatform::LiveHeaps(), heapsBefore);
}

TEST_F(ModuleLifetimeTest, ThreadNotificationsAreAnsweredTrue) {
  Attach();
  EXPECT_EQ(DllMain(FakeInstance(), DLL_THREAD_ATTACH, nullptr), TRUE);
  EXPECT_EQ(DllMain(FakeInstance(), DLL_THREAD_DETACH, nullptr), TRUE);
  // They change nothing: the module serves on, on the heap it had.
  EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore + 1);
  void* out = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory, &out),
            S_OK);
  static_cast<IUnknown*>(out)->Release();
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

TEST_F(ModuleLifetimeTest, InstallKorvexIsServedAndMadeOnlyWhenAsked) {
  InstallProviderEntry();
  Attach();
  // Nothing is made before a client asks.
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore + 1);
  IInstallKorvex* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IInstallKorvex,
                                    reinterpret_cast<void**>(&object)),
            S_OK);
  LONG status = 99;
  EXPECT_EQ(object->install(&status), S_OK);
  EXPECT_EQ(status, 0);
  object->Release();
  factory->Release();
}

TEST_F(ModuleLifetimeTest, AttachAgainAfterDetachStartsAfresh) {
  Attach();
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)),
            S_OK);
  factory->Release();
  Detach();
  // The kept factory went with the heap it lived in.
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore);
  Attach();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore);
  // A factory made anew, in the new heap, and one that works.
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore + 1);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory->Release();
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
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore);
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
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore) << "made a factory";
}

TEST_F(ModuleLifetimeTest, NullOutPointerIsRefused) {
  Attach();
  EXPECT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory, nullptr),
            E_POINTER);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore) << "made a factory";
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
  first->Release();
  second->Release();
  // Kept for the next request, which makes nothing new.
  const long blocks = qxplatform::LiveHeapBlocks();
  IClassFactory* third = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory,
                              reinterpret_cast<void**>(&third)),
            S_OK);
  EXPECT_EQ(third, first);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocks);
  third->Release();
}

TEST_F(ModuleLifetimeTest, UnsupportedInterfaceKeepsTheFactoryCached) {
  Attach();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IDispatch, &out),
            E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  // The factory made for the refused request is kept: the next request
  // makes nothing new.
  const long blocks = qxplatform::LiveHeapBlocks();
  EXPECT_EQ(blocks, m_blocksBefore + 1);
  ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory, &out),
            S_OK);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocks);
  static_cast<IUnknown*>(out)->Release();
}

TEST_F(ModuleLifetimeTest, FactoryWithoutMemoryIsRetriedOnTheNextRequest) {
  Attach();
  void* out = reinterpret_cast<void*>(1);
  qxplatform::FailHeapAllocAt(1);
  EXPECT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory, &out),
            E_OUTOFMEMORY);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
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
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  for (IUnknown* factory : seen) factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}
