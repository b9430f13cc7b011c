// Test support: the product linked into the test and attached as the
// platform loader would attach it, then detached at the end of the test.
// Every detach first asks DllCanUnloadNow, as the runtime asks before it
// unloads a library: a live object, a client reference to the class factory
// or a server lock left by the test fails it there, while the module and its
// heap are still there to be leaked. After the detach every heap and block,
// task block, BSTR and registry handle the test made must be back.
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
    m_taskBlocksBefore = qxplatform::LiveTaskBlocks();
    m_registryHandlesBefore = qxplatform::OpenRegistryHandles();
  }
  void TearDown() override {
    Detach();
    EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore) << "heaps";
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore) << "heap blocks";
    EXPECT_EQ(qxplatform::LiveTaskBlocks(), m_taskBlocksBefore)
        << "task blocks and BSTRs";
    EXPECT_EQ(qxplatform::OpenRegistryHandles(), m_registryHandlesBefore)
        << "registry keys";
    PlatformTest::TearDown();
  }
  void Attach() {
    ASSERT_FALSE(m_attached);
    EXPECT_EQ(DllMain(FakeInstance(), DLL_PROCESS_ATTACH, nullptr), TRUE);
    m_attached = true;
  }
  void Detach() {
    if (!m_attached) return;
    EXPECT_EQ(DllCanUnloadNow(), S_OK)
        << "an object, a factory reference or a server lock is still alive";
    EXPECT_EQ(DllMain(FakeInstance(), DLL_PROCESS_DETACH, nullptr), TRUE);
    m_attached = false;
  }
  long m_heapsBefore = 0;
  long m_blocksBefore = 0;
  long m_taskBlocksBefore = 0;
  long m_registryHandlesBefore = 0;
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
