// The module heap's branches: one main heap where the platform's own heap
// scales or there is one processor; otherwise a power-of-two set of extra
// heaps with a header naming each block's heap; and falling back to the
// main heap alone when the extra heaps cannot be had.
#include <string.h>

#include "installer/iinstall_korvex.h"
#include "module/attached_module.h"
#include "module/server_module.h"

namespace {

HANDLE HeaderHeap(void* block) {
  HANDLE heap = nullptr;
  memcpy(&heap, static_cast<BYTE*>(block) - kModuleBlockHeaderSize,
         sizeof(heap));
  return heap;
}

}  // namespace

class ModuleHeapTest : public ModuleTest {
 protected:
  // An older system: not of the NT family 5 or later.
  void AttachOnOlderSystem(DWORD processors) {
    qxplatform::SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
    qxplatform::SetProcessorCount(processors);
    Attach();
  }
  void ExpectMainHeapOnly() {
    const ServerModule& module = CurrentModule();
    EXPECT_NE(module.heap.mainHeap, nullptr);
    EXPECT_EQ(module.heap.heapMask, 0u);
    EXPECT_EQ(module.heap.heapArray, nullptr);
    // A block of the main heap carries no header: it can be handed back to
    // the main heap directly.
    void* block = ModuleAlloc(24);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(HeapSize(module.heap.mainHeap, 0, block), 24u);
    ModuleFree(block);
  }
};

TEST_F(ModuleHeapTest, CurrentNtFamilyUsesOneHeapWhateverTheProcessors) {
  qxplatform::SetVersion(VER_PLATFORM_WIN32_NT, 5, 0);
  qxplatform::SetProcessorCount(8);
  Attach();
  ExpectMainHeapOnly();
}

TEST_F(ModuleHeapTest, OneProcessorUsesOneHeap) {
  AttachOnOlderSystem(1);
  ExpectMainHeapOnly();
}

TEST_F(ModuleHeapTest, OlderNtFamilyWithTwoProcessorsGetsFourExtraHeaps) {
  const long heapsBefore = qxplatform::LiveHeaps();
  qxplatform::SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
  qxplatform::SetProcessorCount(2);
  Attach();
  EXPECT_EQ(CurrentModule().heap.heapMask, 3u);
  ASSERT_NE(CurrentModule().heap.heapArray, nullptr);
  EXPECT_EQ(qxplatform::LiveHeaps(), heapsBefore + 1 + 4);
}

TEST_F(ModuleHeapTest, FiveProcessorsGetEightExtraHeaps) {
  const long heapsBefore = qxplatform::LiveHeaps();
  AttachOnOlderSystem(5);
  EXPECT_EQ(CurrentModule().heap.heapMask, 7u);
  EXPECT_EQ(qxplatform::LiveHeaps(), heapsBefore + 1 + 8);
}

TEST_F(ModuleHeapTest, AllocationsRotateOverTheExtraHeaps) {
  AttachOnOlderSystem(2);
  const ServerModule& module = CurrentModule();
  ASSERT_EQ(module.heap.heapMask, 3u);
  void* blocks[5] = {};
  const int expectedHeap[5] = {0, 1, 2, 3, 0};
  for (int i = 0; i < 5; ++i) {
    blocks[i] = ModuleAlloc(16);
    ASSERT_NE(blocks[i], nullptr);
    EXPECT_EQ(HeaderHeap(blocks[i]), module.heap.heapArray[expectedHeap[i]])
        << "block " << i;
  }
  for (int i = 0; i < 4; ++i) {
    EXPECT_NE(module.heap.heapArray[i], module.heap.mainHeap);
    for (int j = i + 1; j < 4; ++j) {
      EXPECT_NE(module.heap.heapArray[i], module.heap.heapArray[j]);
    }
  }
  for (void* block : blocks) ModuleFree(block);
}

TEST_F(ModuleHeapTest, RotationGoesOnWhenTheCounterWraps) {
  AttachOnOlderSystem(2);
  ServerModule& module = CurrentModule();
  ASSERT_EQ(module.heap.heapMask, 3u);
  // As after 2^31 - 1 blocks: the next turn is the last one below the wrap.
  module.heap.heapCounter = 0x7FFFFFFF;
  void* last = ModuleAlloc(8);
  void* wrapped = ModuleAlloc(8);
  ASSERT_NE(last, nullptr);
  ASSERT_NE(wrapped, nullptr);
  EXPECT_EQ(HeaderHeap(last), module.heap.heapArray[3]);
  EXPECT_EQ(HeaderHeap(wrapped), module.heap.heapArray[0]);
  ModuleFree(last);
  ModuleFree(wrapped);
}

TEST_F(ModuleHeapTest, ExtraHeapBlocksKeepTheirContentAndHeapOnRealloc) {
  AttachOnOlderSystem(2);
  char* block = static_cast<char*>(ModuleAlloc(8));
  ASSERT_NE(block, nullptr);
  const HANDLE owner = HeaderHeap(block);
  memcpy(block, "korvex!", 8);
  // Move on the rotation, so that a realloc taking the next heap would show.
  void* other = ModuleAlloc(8);
  char* grown = static_cast<char*>(ModuleRealloc(block, 4096));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(HeaderHeap(grown), owner);
  EXPECT_STREQ(grown, "korvex!");
  ModuleFree(grown);
  ModuleFree(other);
}

TEST_F(ModuleHeapTest, FailedReallocKeepsTheOldBlock) {
  AttachOnOlderSystem(2);
  char* block = static_cast<char*>(ModuleAlloc(8));
  ASSERT_NE(block, nullptr);
  memcpy(block, "intact", 7);
  qxplatform::FailHeapAllocAt(1);
  EXPECT_EQ(ModuleRealloc(block, 64), nullptr);
  EXPECT_STREQ(block, "intact");
  ModuleFree(block);
}

TEST_F(ModuleHeapTest, ReallocOfNullAllocatesAndFreeOfNullDoesNothing) {
  for (DWORD processors : {1u, 2u}) {
    AttachOnOlderSystem(processors);
    const long blocksBefore = qxplatform::LiveHeapBlocks();
    ModuleFree(nullptr);
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksBefore);
    void* block = ModuleRealloc(nullptr, 32);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksBefore + 1);
    if (processors == 2) {
      EXPECT_EQ(HeaderHeap(block), CurrentModule().heap.heapArray[0]);
    }
    ModuleFree(block);
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksBefore);
    Detach();
  }
}

TEST_F(ModuleHeapTest, OversizedRequestsAreRefused) {
  AttachOnOlderSystem(2);
  EXPECT_EQ(ModuleAlloc(static_cast<SIZE_T>(-1)), nullptr);
  void* block = ModuleAlloc(4);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(ModuleRealloc(block, static_cast<SIZE_T>(-4)), nullptr);
  ModuleFree(block);
}

TEST_F(ModuleHeapTest, MissingHandleArrayLeavesTheMainHeapAlone) {
  // The first heap allocation after attach's start is the handle array.
  qxplatform::FailHeapAllocAt(1);
  AttachOnOlderSystem(2);
  ExpectMainHeapOnly();
  EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore + 1);
}

TEST_F(ModuleHeapTest, AnyMissingExtraHeapLeavesTheMainHeapAlone) {
  // HeapCreate 1 is the main heap; 2 to 5 the four extra heaps.
  for (long failing = 2; failing <= 5; ++failing) {
    qxplatform::FailHeapCreateAt(failing);
    AttachOnOlderSystem(2);
    ExpectMainHeapOnly();
    EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore + 1) << failing;
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore) << failing;
    Detach();
    EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore) << failing;
  }
}

TEST_F(ModuleHeapTest, MissingMainHeapHandsOutNothing) {
  qxplatform::FailHeapCreateAt(1);
  AttachOnOlderSystem(2);
  EXPECT_EQ(CurrentModule().heap.mainHeap, nullptr);
  EXPECT_EQ(CurrentModule().heap.heapArray, nullptr);
  EXPECT_EQ(ModuleAlloc(8), nullptr);
  EXPECT_EQ(ModuleRealloc(nullptr, 8), nullptr);
  ModuleFree(nullptr);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IUnknown, &out),
            E_OUTOFMEMORY);
}
