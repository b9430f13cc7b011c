// Private heaps: block lifetime, zeroing, reallocation, refusal of handles
// that are not heaps, and the failure and leak-counting controls.
#include <string.h>
#include <windows.h>

#include <thread>
#include <vector>

#include "support/platform_fixture.h"

namespace {

class HeapTest : public PlatformTest {};

bool AllZero(const void* block, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  for (size_t i = 0; i < size; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

TEST_F(HeapTest, DestroyReleasesBlocksStillAllocated) {
  long heapsBefore = qxplatform::LiveHeaps();
  long blocksBefore = qxplatform::LiveHeapBlocks();
  HANDLE heap = HeapCreate(0, 0, 0);
  ASSERT_NE(heap, nullptr);
  ASSERT_NE(HeapAlloc(heap, 0, 10), nullptr);
  ASSERT_NE(HeapAlloc(heap, 0, 20), nullptr);
  EXPECT_EQ(qxplatform::LiveHeaps(), heapsBefore + 1);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksBefore + 2);
  EXPECT_TRUE(HeapDestroy(heap));
  EXPECT_EQ(qxplatform::LiveHeaps(), heapsBefore);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksBefore);
}

TEST_F(HeapTest, ZeroMemoryFlagZeroesNewBlocksAndGrowth) {
  HANDLE heap = HeapCreate(0, 0, 0);
  auto* block =
      static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 64));
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(AllZero(block, 64));
  memset(block, 0xAB, 64);
  block = static_cast<unsigned char*>(
      HeapReAlloc(heap, HEAP_ZERO_MEMORY, block, 256));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[0], 0xAB);
  EXPECT_EQ(block[63], 0xAB);
  EXPECT_TRUE(AllZero(block + 64, 256 - 64));
  EXPECT_EQ(HeapSize(heap, 0, block), 256u);
  HeapDestroy(heap);
}

TEST_F(HeapTest, ReallocKeepsContentsAndFreesTheOldBlock) {
  HANDLE heap = HeapCreate(0, 0, 0);
  char* block = static_cast<char*>(HeapAlloc(heap, 0, 6));
  memcpy(block, "hello", 6);
  char* grown = static_cast<char*>(HeapReAlloc(heap, 0, block, 4000));
  ASSERT_NE(grown, nullptr);
  EXPECT_STREQ(grown, "hello");
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), 1);
  char* shrunk = static_cast<char*>(HeapReAlloc(heap, 0, grown, 3));
  ASSERT_NE(shrunk, nullptr);
  EXPECT_EQ(HeapSize(heap, 0, shrunk), 3u);
  EXPECT_TRUE(HeapFree(heap, 0, shrunk));
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), 0);
  HeapDestroy(heap);
}

TEST_F(HeapTest, ReallocOfNullBlockFails) {
  HANDLE heap = HeapCreate(0, 0, 0);
  EXPECT_EQ(HeapReAlloc(heap, 0, nullptr, 16), nullptr);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), 0);
  HeapDestroy(heap);
}

TEST_F(HeapTest, InPlaceOnlyGrowthIsRefusedAndKeepsTheBlock) {
  HANDLE heap = HeapCreate(0, 0, 0);
  char* block = static_cast<char*>(HeapAlloc(heap, 0, 8));
  EXPECT_EQ(HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, block, 64), nullptr);
  EXPECT_EQ(HeapSize(heap, 0, block), 8u);
  EXPECT_EQ(HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, block, 4), block);
  HeapDestroy(heap);
}

TEST_F(HeapTest, FreeOfNullSucceedsAndOfAForeignBlockFails) {
  HANDLE heap = HeapCreate(0, 0, 0);
  HANDLE other = HeapCreate(0, 0, 0);
  void* block = HeapAlloc(other, 0, 8);
  EXPECT_TRUE(HeapFree(heap, 0, nullptr));
  SetLastError(0);
  EXPECT_FALSE(HeapFree(heap, 0, block));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(HeapFree(other, 0, block));
  HeapDestroy(heap);
  HeapDestroy(other);
}

TEST_F(HeapTest, HandlesThatAreNotHeapsAreRefused) {
  int notAHeap = 0;
  HANDLE destroyed = HeapCreate(0, 0, 0);
  HeapDestroy(destroyed);
  for (HANDLE bad : {static_cast<HANDLE>(&notAHeap), destroyed,
                     static_cast<HANDLE>(nullptr)}) {
    EXPECT_EQ(HeapAlloc(bad, 0, 8), nullptr);
    EXPECT_EQ(HeapSize(bad, 0, &notAHeap), static_cast<SIZE_T>(-1));
    SetLastError(0);
    EXPECT_FALSE(HeapDestroy(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
}

TEST_F(HeapTest, FixedSizeHeapRefusesBlocksPastItsMaximum) {
  HANDLE heap = HeapCreate(0, 0, 1024);
  ASSERT_NE(heap, nullptr);
  void* first = HeapAlloc(heap, 0, 1000);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(HeapAlloc(heap, 0, 100), nullptr);
  HeapFree(heap, 0, first);
  EXPECT_NE(HeapAlloc(heap, 0, 100), nullptr);
  HeapDestroy(heap);
  SetLastError(0);
  EXPECT_EQ(HeapCreate(0, 4096, 1024), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(HeapTest, FailHeapAllocAtFailsExactlyTheNthAllocationOnce) {
  HANDLE heap = HeapCreate(0, 0, 0);
  qxplatform::FailHeapAllocAt(2);
  void* first = HeapAlloc(heap, 0, 8);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(HeapReAlloc(heap, 0, first, 16), nullptr);  // the second call
  EXPECT_EQ(HeapSize(heap, 0, first), 8u);              // still intact
  EXPECT_NE(HeapAlloc(heap, 0, 8), nullptr);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), 2);
  HeapDestroy(heap);
}

TEST_F(HeapTest, FailHeapCreateAtFailsTheNthCreation) {
  qxplatform::FailHeapCreateAt(1);
  SetLastError(0);
  EXPECT_EQ(HeapCreate(0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(qxplatform::LiveHeaps(), 0);
  HANDLE heap = HeapCreate(0, 0, 0);
  EXPECT_NE(heap, nullptr);
  HeapDestroy(heap);
}

TEST_F(HeapTest, ResetControlsDisarmsPendingFailures) {
  qxplatform::FailHeapAllocAt(1);
  qxplatform::FailHeapCreateAt(1);
  qxplatform::ResetControls();
  HANDLE heap = HeapCreate(0, 0, 0);
  ASSERT_NE(heap, nullptr);
  EXPECT_NE(HeapAlloc(heap, 0, 8), nullptr);
  HeapDestroy(heap);
}

TEST_F(HeapTest, ProcessHeapIsNotCountedAsPrivateAndCannotBeDestroyed) {
  HANDLE heap = GetProcessHeap();
  ASSERT_EQ(heap, GetProcessHeap());
  void* block = HeapAlloc(heap, 0, 32);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(qxplatform::LiveHeaps(), 0);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), 0);
  EXPECT_FALSE(HeapDestroy(heap));
  EXPECT_TRUE(HeapFree(heap, 0, block));
}

TEST_F(HeapTest, AddressesInsideAHeapRecordAreNotHeaps) {
  HANDLE heap = HeapCreate(0, 0, 0);
  ASSERT_NE(heap, nullptr);
  HANDLE inside = static_cast<char*>(heap) + 8;
  EXPECT_EQ(HeapAlloc(inside, 0, 8), nullptr);
  EXPECT_FALSE(HeapDestroy(inside));
  EXPECT_TRUE(HeapDestroy(heap));
}

// Two threads allocating and freeing, on their own heaps and on one they
// share, while heaps come and go: no block is lost or counted twice.
TEST_F(HeapTest, CountsStayExactUnderTwoThreads) {
  const long heapsBefore = qxplatform::LiveHeaps();
  const long blocksBefore = qxplatform::LiveHeapBlocks();
  HANDLE shared = HeapCreate(0, 0, 0);
  ASSERT_NE(shared, nullptr);
  constexpr int kRounds = 2000;
  constexpr int kKept = 50;
  auto work = [shared](std::vector<void*>* kept) {
    HANDLE own = HeapCreate(0, 0, 0);
    for (int i = 0; i < kRounds; ++i) {
      void* a = HeapAlloc(own, 0, 16);
      void* b = HeapAlloc(shared, 0, 24);
      HeapFree(own, 0, a);
      if (i < kKept) {
        kept->push_back(b);
      } else {
        HeapFree(shared, 0, b);
      }
      if (i % 100 == 0) {
        HANDLE passing = HeapCreate(0, 0, 0);
        HeapAlloc(passing, 0, 8);
        HeapDestroy(passing);
      }
    }
    HeapAlloc(own, 0, 8);  // left for HeapDestroy
    HeapDestroy(own);
  };
  std::vector<void*> first;
  std::vector<void*> second;
  std::thread other(work, &second);
  work(&first);
  other.join();
  EXPECT_EQ(qxplatform::LiveHeaps(), heapsBefore + 1);
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksBefore + 2 * kKept);
  for (void* block : first) EXPECT_TRUE(HeapFree(shared, 0, block));
  for (void* block : second) EXPECT_TRUE(HeapFree(shared, 0, block));
  EXPECT_EQ(qxplatform::LiveHeapBlocks(), blocksBefore);
  EXPECT_TRUE(HeapDestroy(shared));
  EXPECT_EQ(qxplatform::LiveHeaps(), heapsBefore);
}

}  // namespace
