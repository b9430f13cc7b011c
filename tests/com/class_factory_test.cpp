// The class factory as a client sees it: which references and server locks
// keep the library (DllCanUnloadNow), one factory handed out for every
// request, LockServer and the argument rules of CreateInstance.
#include "com/com_test_support.h"

using ClassFactoryTest = ComTest;

TEST_F(ClassFactoryTest, ClientReferenceHoldsOneLockAndCacheHoldsNone) {
  IClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->Release(), 1u);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  // The library kept the factory, without keeping itself for it.
  IClassFactory* again = Factory();
  EXPECT_EQ(again, factory);
  again->Release();
}

TEST_F(ClassFactoryTest, TwoClientReferencesHoldOneLockTogether) {
  IClassFactory* first = Factory();
  IClassFactory* second = Factory();
  ASSERT_EQ(first, second);
  EXPECT_EQ(first->AddRef(), 4u);
  EXPECT_EQ(first->Release(), 3u);
  EXPECT_EQ(second->Release(), 2u);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "one client reference is left";
  EXPECT_EQ(first->Release(), 1u);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ClassFactoryTest, LockServerCountsWithoutPairing) {
  IClassFactory* factory = Factory();
  factory->Release();
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(7), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "one lock is left";
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// An unlock with no lock of its own to give back must not take the lock of
// a live object: the library would be unloaded under it.
TEST_F(ClassFactoryTest, UnpairedUnlockLeavesOtherLocksAlone) {
  IClassFactory* factory = Factory();
  IUnknown* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown,
                                    reinterpret_cast<void**>(&object)),
            S_OK);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  // The object still serves, and its release alone lets the library go.
  LONG status = 99;
  IInstallKorvex* korvex = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IInstallKorvex,
                                   reinterpret_cast<void**>(&korvex)),
            S_OK);
  EXPECT_EQ(korvex->install(&status), S_OK);
  EXPECT_EQ(status, 0);
  korvex->Release();

  object->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ClassFactoryTest, AnswersOnlyIUnknownAndIClassFactory) {
  IClassFactory* factory = Factory();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->QueryInterface(IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
  ASSERT_EQ(factory->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, static_cast<void*>(factory));
  EXPECT_EQ(factory->Release(), 2u);
  factory->Release();
}

TEST_F(ClassFactoryTest, CreateInstanceRefusesANullOutPointer) {
  IClassFactory* factory = Factory();
  const long launches = qxplatform::ShellLaunchCount();
  const long blocks = qxplatform::LiveHeapBlocks();
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, nullptr),
            E_POINTER);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocks);
  EXPECT_EQ(qxplatform::ShellLaunchCount(), launches);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK) << "the refused call left an object";
}

TEST_F(ClassFactoryTest, PlainObjectCountsAndGivesItsLockBack) {
  IClassFactory* factory = Factory();
  IDispatch* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch,
                                    reinterpret_cast<void**>(&object)),
            S_OK);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(object->AddRef(), 2u);
  EXPECT_EQ(object->Release(), 1u);
  const long blocks = qxplatform::LiveHeapBlocks();
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocks - 1);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ClassFactoryTest, EachObjectHoldsItsOwnLock) {
  IInstallKorvex* first = CreatePlain<IInstallKorvex>(IID_IInstallKorvex);
  IInstallKorvex* second = CreatePlain<IInstallKorvex>(IID_IInstallKorvex);
  ASSERT_NE(first, second);
  first->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "unloadable under the second";
  second->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// With the provider missing and a startable installer on the path, every
// probe is one launch.
class ClassFactoryProbeTest : public AttachedModuleTest {
 protected:
  void SetUp() override {
    AttachedModuleTest::SetUp();
    m_standIn.Write(/*executable=*/true);
    void* out = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IClassFactory, &out),
              S_OK);
    m_factory = static_cast<IClassFactory*>(out);
  }
  void TearDown() override {
    ReleaseFactory();
    AttachedModuleTest::TearDown();
  }
  void ReleaseFactory() {
    if (m_factory != nullptr) m_factory->Release();
    m_factory = nullptr;
  }
  KorvexStandIn m_standIn;
  IClassFactory* m_factory = nullptr;
};

TEST_F(ClassFactoryProbeTest, AggregationForAnotherInterfaceBuildsNothing) {
  OuterObject outer;
  const long launches = qxplatform::ShellLaunchCount();
  const long blocks = qxplatform::LiveHeapBlocks();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(m_factory->CreateInstance(&outer, IID_IDispatch, &out),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(qxplatform::ShellLaunchCount(), launches);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocks);
  EXPECT_EQ(outer.m_count, 1u);
  ReleaseFactory();
  EXPECT_EQ(DllCanUnloadNow(), S_OK) << "the refused call left an object";
}

TEST_F(ClassFactoryProbeTest, MissingInterfaceDestroysTheProbedObject) {
  const long launches = qxplatform::ShellLaunchCount();
  const long blocks = qxplatform::LiveHeapBlocks();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(m_factory->CreateInstance(nullptr, IID_IClassFactory, &out),
            E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  // The probe ran, and started the installer, before the lookup failed.
  EXPECT_EQ(qxplatform::ShellLaunchCount(), launches + 1);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocks);
  ReleaseFactory();
  EXPECT_EQ(DllCanUnloadNow(), S_OK) << "the probed object is still alive";
}
