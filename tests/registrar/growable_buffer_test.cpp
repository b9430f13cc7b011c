// GrowableBuffer: doubling from its first capacity, the bytes kept across a
// growth, and every size that would wrap round or cannot be had refused with
// the block as it was.
#include <stdint.h>
#include <string.h>

#include "registrar/growable_buffer.h"
#include "registrar_fixture.h"

namespace {

using GrowableBufferTest = RegistrarTest;

TEST_F(GrowableBufferTest, DoublesFromItsFirstCapacityAndKeepsItsBytes) {
  GrowableBuffer buffer(kTestHeapAllocator, /*firstCapacity=*/4);
  EXPECT_EQ(buffer.Data(), nullptr);
  ASSERT_EQ(buffer.Reserve(0, 3), S_OK);
  EXPECT_EQ(buffer.Capacity(), 4u);
  memcpy(buffer.Data(), "abc", 3);
  ASSERT_EQ(buffer.Reserve(3, 1), S_OK);
  EXPECT_EQ(buffer.Capacity(), 4u);
  ASSERT_EQ(buffer.Reserve(4, 13), S_OK);
  EXPECT_EQ(buffer.Capacity(), 32u);
  EXPECT_EQ(memcmp(buffer.Data(), "abc", 3), 0);
}

TEST_F(GrowableBufferTest, MakeTakesExactlyWhatItIsAsked) {
  GrowableBuffer buffer(kTestHeapAllocator, /*firstCapacity=*/4);
  ASSERT_EQ(buffer.Make(6), S_OK);
  EXPECT_EQ(buffer.Capacity(), 6u);
  ASSERT_EQ(buffer.Reserve(6, 1), S_OK);
  EXPECT_EQ(buffer.Capacity(), 12u);
  ASSERT_EQ(buffer.Make(0), S_OK);
  EXPECT_EQ(buffer.Capacity(), 1u);
}

TEST_F(GrowableBufferTest, SizesThatWouldWrapAreRefused) {
  GrowableBuffer buffer(kTestHeapAllocator, /*firstCapacity=*/4);
  ASSERT_EQ(buffer.Reserve(0, 4), S_OK);
  void* const block = buffer.Data();
  EXPECT_EQ(buffer.Reserve(SIZE_MAX, 1), E_OUTOFMEMORY);
  EXPECT_EQ(buffer.Reserve(1, SIZE_MAX), E_OUTOFMEMORY);
  // The sum fits, but no doubling of 4 reaches it.
  EXPECT_EQ(buffer.Reserve(0, SIZE_MAX / 2 + 2), E_OUTOFMEMORY);
  EXPECT_EQ(buffer.Data(), block);
  EXPECT_EQ(buffer.Capacity(), 4u);
}

TEST_F(GrowableBufferTest, BlockThatCannotBeHadLeavesTheOldOne) {
  {
    GrowableBuffer buffer(kTestHeapAllocator, /*firstCapacity=*/4);
    ASSERT_EQ(buffer.Reserve(0, 4), S_OK);
    memcpy(buffer.Data(), "abcd", 4);
    qxplatform::FailHeapAllocAt(1);
    EXPECT_EQ(buffer.Reserve(4, 1), E_OUTOFMEMORY);
    EXPECT_EQ(buffer.Capacity(), 4u);
    EXPECT_EQ(memcmp(buffer.Data(), "abcd", 4), 0);
    qxplatform::FailHeapAllocAt(1);
    EXPECT_EQ(buffer.Make(8), E_OUTOFMEMORY);
    EXPECT_EQ(buffer.Capacity(), 4u);
    EXPECT_EQ(memcmp(buffer.Data(), "abcd", 4), 0);
  }
  ExpectNothingHeld();
}

TEST_F(GrowableBufferTest, DetachHandsTheBlockOver) {
  GrowableBuffer buffer(kTestHeapAllocator, /*firstCapacity=*/4);
  ASSERT_EQ(buffer.Reserve(0, 1), S_OK);
  void* block = buffer.Detach();
  EXPECT_NE(block, nullptr);
  EXPECT_EQ(buffer.Data(), nullptr);
  EXPECT_EQ(buffer.Capacity(), 0u);
  kTestHeapAllocator.free(block);
  ExpectNothingHeld();
}

}  // namespace
