// Running out of memory at every allocation of an activation: each failure
// is E_OUTOFMEMORY with a null out pointer, nothing leaked, nothing left
// that keeps the library and, for an instance, no probe run.
#include "com/com_test_support.h"

namespace {

// What one activation attempt did.
struct Attempt {
  HRESULT classObject = E_FAIL;
  HRESULT instance = E_FAIL;
  void* factoryOut = reinterpret_cast<void*>(1);
  void* instanceOut = reinterpret_cast<void*>(1);
};

}  // namespace

class AllocationFailureTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    m_standIn.Write(/*executable=*/true);  // every probe is one launch
  }

  // Attaches, fails the n-th heap allocation from here on and activates:
  // class object, then an instance (aggregated when outer is given).
  Attempt Activate(long n, OuterObject* outer) {
    Attach();
    const long blocks = qxplatform::LiveHeapBlocks();
    const long launches = qxplatform::ShellLaunchCount();
    qxplatform::FailHeapAllocAt(n);
    Attempt attempt;
    attempt.classObject = DllGetClassObject(
        CLSID_InstallKorvex, IID_IClassFactory, &attempt.factoryOut);
    if (attempt.classObject != S_OK) {
      EXPECT_EQ(attempt.classObject, E_OUTOFMEMORY);
      EXPECT_EQ(attempt.factoryOut, nullptr);
      EXPECT_EQ(DllCanUnloadNow(), S_OK);
      EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocks);
      qxplatform::FailHeapAllocAt(0);
      Detach();
      return attempt;
    }
    IClassFactory* factory = static_cast<IClassFactory*>(attempt.factoryOut);
    const long blocksWithFactory = qxplatform::LiveHeapBlocks();
    attempt.instance =
        factory->CreateInstance(outer, IID_IUnknown, &attempt.instanceOut);
    if (attempt.instance != S_OK) {
      EXPECT_EQ(attempt.instance, E_OUTOFMEMORY);
      EXPECT_EQ(attempt.instanceOut, nullptr);
      EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksWithFactory);
      EXPECT_EQ(qxplatform::ShellLaunchCount(), launches);  // no probe
    } else {
      EXPECT_EQ(qxplatform::ShellLaunchCount(), launches + 1);
      factory->Release();
      // The object alone keeps the library.
      EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
      factory = nullptr;
      static_cast<IUnknown*>(attempt.instanceOut)->Release();
    }
    if (factory != nullptr) factory->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    qxplatform::FailHeapAllocAt(0);
    Detach();
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore);
    EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore);
    return attempt;
  }

  // Fails allocation 1, 2, ... until an activation goes through; returns
  // how many attempts failed.
  int FailEveryAllocation(OuterObject* outer) {
    int failures = 0;
    for (long n = 1; n < 20; ++n) {
      const Attempt attempt = Activate(n, outer);
      if (attempt.classObject == S_OK && attempt.instance == S_OK) break;
      ++failures;
    }
    return failures;
  }

  KorvexStandIn m_standIn;
};

TEST_F(AllocationFailureTest, PlainActivationOnOneHeap) {
  // The factory and the object: two allocations, two failures.
  EXPECT_EQ(FailEveryAllocation(nullptr), 2);
}

TEST_F(AllocationFailureTest, AggregatedActivationOnOneHeap) {
  OuterObject outer;
  EXPECT_EQ(FailEveryAllocation(&outer), 2);
  EXPECT_EQ(outer.m_count, 1u);
}

TEST_F(AllocationFailureTest, PlainActivationOnExtraHeaps) {
  qxplatform::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
  qxplatform::SetProcessorCount(2);
  EXPECT_EQ(FailEveryAllocation(nullptr), 2);
}
