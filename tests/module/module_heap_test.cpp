// The module heap's branches, seen through the heaps and blocks the platform
// counts: one main heap where the platform's own heap scales or there is
// one processor; otherwise a power-of-two set of extra heaps over which
// allocations rotate; and falling back to the main heap alone when the
// extra heaps cannot be had.
#include <string.h>

#include <map>
#include <vector>

#include "installer/iinstall_korvex.h"
#include "module/attached_module.h"
#include "module/server_module.h"

namespace {

using HeapCounts = std::map<HANDLE, long>;

// The heaps whose block count changed between before and after, with the
// change; heaps made or destroyed in between count from or to nothing.
HeapCounts Changed(const HeapCounts& before, const HeapCounts& after) {
  HeapCounts changed;
  for (const auto& [heap, blocks] : after) {
    const auto old = before.find(heap);
    const long delta = blocks - (old == before.end() ? 0 : old->second);
    if (delta != 0) changed[heap] = delta;
  }
  for (const auto& [heap, blocks] : before) {
    if (after.count(heap) == 0 && blocks != 0) changed[heap] = -blocks;
  }
  return changed;
}

// The heap one new block went to: the only heap that gained one block.
HANDLE HeapThatGainedOne(const HeapCounts& before) {
  const HeapCounts changed =
      Changed(before, qxplatform::LiveHeapBlocksByHeap());
  EXPECT_EQ(changed.size(), 1u) << "one allocation touched several heaps";
  if (changed.size() != 1 || changed.begin()->second != 1) return nullptr;
  return changed.begin()->first;
}

// Allocates size bytes and says in which heap the block went.
void* AllocateSeen(SIZE_T size, HANDLE* heap) {
  const HeapCounts before = qxplatform::LiveHeapBlocksByHeap();
  void* block = ModuleAlloc(size);
  *heap = block == nullptr ? nullptr : HeapThatGainedOne(before);
  return block;
}

// The heaps the module made at attach that hold blocks already: the main
// heap, when it holds the extra heaps' handle array.
HeapCounts HeapsHoldingBlocks() {
  HeapCounts holding;
  for (const auto& [heap, blocks] : qxplatform::LiveHeapBlocksByHeap()) {
    if (blocks != 0) holding[heap] = blocks;
  }
  return holding;
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
    EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore + 1);
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore);
    // A block of the main heap carries no header: the pointer handed out is
    // the heap's own block, which the heap knows at its size.
    HANDLE heap = nullptr;
    void* block = AllocateSeen(24, &heap);
    ASSERT_NE(block, nullptr);
    ASSERT_NE(heap, nullptr);
    EXPECT_EQ(HeapSize(heap, 0, block), 24u);
    ModuleFree(block);
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore);
  }
  // Allocates count blocks of size and returns the heap each went to.
  std::vector<HANDLE> AllocateBlocks(int count, SIZE_T size,
                                     std::vector<void*>* blocks) {
    std::vector<HANDLE> heaps;
    for (int i = 0; i < count; ++i) {
      HANDLE heap = nullptr;
      void* block = AllocateSeen(size, &heap);
      EXPECT_NE(block, nullptr) << "block " << i;
      blocks->push_back(block);
      heaps.push_back(heap);
    }
    return heaps;
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
  qxplatform::SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
  qxplatform::SetProcessorCount(2);
  Attach();
  EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore + 1 + 4);
  // The handle array of the extra heaps, in the main heap.
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore + 1);
}

TEST_F(ModuleHeapTest, FiveProcessorsGetEightExtraHeaps) {
  AttachOnOlderSystem(5);
  EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore + 1 + 8);
}

TEST_F(ModuleHeapTest, AllocationsRotateOverTheExtraHeaps) {
  AttachOnOlderSystem(2);
  const HeapCounts mainHeap = HeapsHoldingBlocks();
  ASSERT_EQ(mainHeap.size(), 1u);
  std::vector<void*> blocks;
  const std::vector<HANDLE> heaps = AllocateBlocks(5, 16, &blocks);
  // Four blocks in four extra heaps, then round again to the first.
  for (int i = 0; i < 4; ++i) {
    EXPECT_NE(heaps[i], nullptr) << "block " << i;
    EXPECT_EQ(mainHeap.count(heaps[i]), 0u) << "block " << i;
    for (int j = i + 1; j < 4; ++j) EXPECT_NE(heaps[i], heaps[j]);
  }
  EXPECT_EQ(heaps[4], heaps[0]);
  // Each block goes back to the heap it came from.
  for (void* block : blocks) ModuleFree(block);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore + 1);
}

// Not reachable from outside in a test's time: the turn counter is set to
// where 2^31 - 1 allocations would leave it. It guards a counter that goes
// negative at the wrap and picks no heap, or a heap past the array.
TEST_F(ModuleHeapTest, RotationGoesOnWhenTheCounterWraps) {
  AttachOnOlderSystem(2);
  std::vector<void*> blocks;
  const std::vector<HANDLE> firstRound = AllocateBlocks(4, 8, &blocks);
  CurrentModule().heap.heapCounter = 0x7FFFFFFF;
  const std::vector<HANDLE> wrapped = AllocateBlocks(2, 8, &blocks);
  // The last turn below the wrap is the fourth heap, the next the first.
  EXPECT_EQ(wrapped[0], firstRound[3]);
  EXPECT_EQ(wrapped[1], firstRound[0]);
  for (void* block : blocks) ModuleFree(block);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), m_blocksBefore + 1);
}

TEST_F(ModuleHeapTest, ExtraHeapBlocksKeepTheirContentAndHeapOnRealloc) {
  AttachOnOlderSystem(2);
  HANDLE owner = nullptr;
  char* block = static_cast<char*>(AllocateSeen(8, &owner));
  ASSERT_NE(block, nullptr);
  memcpy(block, "korvex!", 8);
  // Move on the rotation, so that a realloc taking the next heap would show.
  HANDLE next = nullptr;
  void* other = AllocateSeen(8, &next);
  ASSERT_NE(next, owner);
  const HeapCounts before = qxplatform::LiveHeapBlocksByHeap();
  char* grown = static_cast<char*>(ModuleRealloc(block, 4096));
  ASSERT_NE(grown, nullptr);
  // Still one block, still in the heap it was in.
  EXPECT_TRUE(Changed(before, qxplatform::LiveHeapBlocksByHeap()).empty());
  EXPECT_STREQ(grown, "korvex!");
  ModuleFree(grown);
  EXPECT_EQ(Changed(before, qxplatform::LiveHeapBlocksByHeap()),
            (HeapCounts{{owner, -1}}));
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
    const HeapCounts holding = HeapsHoldingBlocks();
    ModuleFree(nullptr);
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksBefore);
    const HeapCounts before = qxplatform::LiveHeapBlocksByHeap();
    void* block = ModuleRealloc(nullptr, 32);
    ASSERT_NE(block, nullptr);
    const HANDLE heap = HeapThatGainedOne(before);
    if (processors == 2) {
      // An extra heap, as an allocation would take.
      EXPECT_EQ(holding.count(heap), 0u);
    }
    ModuleFree(block);
    EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksBefore);
    Detach();
  }
}

TEST_F(ModuleHeapTest, OversizedRequestsAreRefused) {
  AttachOnOlderSystem(2);
  const long blocksBefore = qxplatform::LiveHeapBlocks();
  EXPECT_EQ(ModuleAlloc(static_cast<SIZE_T>(-1)), nullptr);
  void* block = ModuleAlloc(4);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(ModuleRealloc(block, static_cast<SIZE_T>(-4)), nullptr);
  ModuleFree(block);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksBefore);
}

TEST_F(ModuleHeapTest, MissingHandleArrayLeavesTheMainHeapAlone) {
  // The first heap allocation after attach's start is the handle array.
  qxplatform::FailHeapAllocAt(1);
  AttachOnOlderSystem(2);
  ExpectMainHeapOnly();
}

TEST_F(ModuleHeapTest, AnyMissingExtraHeapLeavesTheMainHeapAlone) {
  // HeapCreate 1 is the main heap; 2 to 5 the four extra heaps.
  for (long failing = 2; failing <= 5; ++failing) {
    SCOPED_TRACE(failing);
    qxplatform::FailHeapCreateAt(failing);
    AttachOnOlderSystem(2);
    ExpectMainHeapOnly();
    Detach();
    EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore);
  }
}

TEST_F(ModuleHeapTest, MissingMainHeapHandsOutNothing) {
  qxplatform::FailHeapCreateAt(1);
  AttachOnOlderSystem(2);
  EXPECT_EQ(qxplatform::LiveHeaps(), m_heapsBefore);
  EXPECT_EQ(ModuleAlloc(8), nullptr);
  EXPECT_EQ(ModuleRealloc(nullptr, 8), nullptr);
  ModuleFree(nullptr);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(CLSID_InstallKorvex, IID_IUnknown, &out),
            E_OUTOFMEMORY);
  EXPECT_EQ(out, nullptr);
}
