// Test support: the product linked into the test and attached as the
// platform loader would attach it, then detached at the end of the test.
// Every test checks that the detach gives back every heap and block.
#pragma once
#include <windows.h>

#include "module/exports.h"
#include "module/server_module.h"
#include "support/platform_fixture.h"

// Stands in for the library's module handle; the module only stores it.
inline HINSTANCE FakeInstance() {
  return reinterpret_cast<HINSTANCE>(static_cast<UINT_PTR>(0x7A510000));
}

// Attach and detach are the test's to call (so that it can set the platform
// up first); whatever is still attached is detached at the end.
class ModuleTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    m_heapsBefore = qxplatform::LiveHeaps();
    m_blocksBefore = qxplatform::LiveHeapBlocks();
  }
  void TearDown() override {
    Detach();
    EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore);
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore);
    PlatformTest::TearDown();
  }
  void Attach() {
    ASSERT_FALSE(m_attached);
    EXPECT_EQ(DllMain(FakeInstance(), DLL_PROCESS_ATTACH, nullptr), TRUE);
    m_attached = true;
  }
  void Detach() {
    if (!m_attached) return;
    EXPECT_EQ(DllMain(FakeInstance(), DLL_PROCESS_DETACH, nullptr), TRUE);
    m_attached = false;
  }
  static LONG LockCount() { return CurrentModule().lockCount; }

  long m_heapsBefore = 0;
  long m_blocksBefore = 0;
  bool m_attached = false;
};

// The usual case: attached for the whole test.
class AttachedModuleTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    Attach();
  }
};
