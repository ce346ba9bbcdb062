#include "CByteBlock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

void* refuse(size_t)
{
    return nullptr;
}

TEST(ByteBlock, GrowsFrom100ByDoublingKeepingUsedBytes)
{
    CByteBlock block;
    EXPECT_EQ(block.capacity(), 0u);
    ASSERT_EQ(block.grow(), S_OK);
    EXPECT_EQ(block.capacity(), 100u);
    EXPECT_EQ(block.used(), 0u);
    memcpy(block.data(), "0123456789", 10);
    block.setUsed(10);
    ASSERT_EQ(block.reserve(350), S_OK);
    EXPECT_EQ(block.capacity(), 400u);
    EXPECT_EQ(block.used(), 10u);
    EXPECT_EQ(memcmp(block.data(), "0123456789", 10), 0);
    ASSERT_EQ(block.reserve(400), S_OK);
    EXPECT_EQ(block.capacity(), 400u);
    ASSERT_EQ(block.reserve(4410), S_OK);
    EXPECT_EQ(block.capacity(), 6400u);
}

TEST(ByteBlock, FailedAllocationFailsAndKeepsTheBlock)
{
    CByteBlock block;
    ASSERT_EQ(block.reserve(150), S_OK);
    memcpy(block.data(), "abc", 3);
    block.setUsed(3);
    CByteBlock::setAllocator(refuse);
    EXPECT_EQ(block.reserve(300), E_FAIL);
    CByteBlock empty;
    EXPECT_EQ(empty.grow(), E_FAIL);
    CByteBlock::setAllocator(nullptr);
    EXPECT_EQ(block.capacity(), 200u);
    EXPECT_EQ(block.used(), 3u);
    EXPECT_EQ(memcmp(block.data(), "abc", 3), 0);
    EXPECT_EQ(empty.capacity(), 0u);
}

} // namespace
