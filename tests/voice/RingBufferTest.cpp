#include "CRingBuffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<unsigned char> counting(size_t n, int from = 1)
{
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = (unsigned char)((from + int(i)) % 251);
    return v;
}

TEST(RingBuffer, HoldsOneByteLessThanItsSize)
{
    CRingBuffer ring(10001);
    auto bytes = counting(12000);
    EXPECT_EQ(ring.SetData(bytes.data(), 10000), S_OK);
    EXPECT_EQ(ring.available(), 10000u);
    EXPECT_EQ(ring.SetData(bytes.data(), 1), CRingBuffer::FULL);
    CRingBuffer other(10001);
    EXPECT_EQ(other.SetData(bytes.data(), 12000), S_OK);
    std::vector<unsigned char> out(12000);
    DWORD got = 0;
    EXPECT_EQ(other.GetData(out.data(), 12000, &got), S_OK);
    ASSERT_EQ(got, 10000u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 10000, bytes.begin()));
}

TEST(RingBuffer, LatestDataInOrderAndUnchangedAcrossTheWrap)
{
    CRingBuffer ring(10001);
    auto filler = counting(9500, 7);
    DWORD got = 0;
    std::vector<unsigned char> out(10000);
    // Move the positions near the end, so that the held bytes wrap.
    ring.SetData(filler.data(), 9500);
    ring.GetData(out.data(), 9500, &got);
    auto bytes = counting(1000);
    ASSERT_EQ(ring.SetData(bytes.data(), 1000), S_OK);
    ASSERT_EQ(ring.GetLatestData(out.data(), 300, &got), S_OK);
    ASSERT_EQ(got, 300u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 300, bytes.begin() + 700));
    EXPECT_EQ(ring.available(), 1000u);
    ASSERT_EQ(ring.GetData(out.data(), 1000, &got), S_OK);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 1000, bytes.begin()));
}

TEST(RingBuffer, DropClearStateAndEmptyReads)
{
    CRingBuffer ring(10001);
    DWORD held = 1;
    bool ended = false;
    ring.GetState(&held, &ended);
    EXPECT_EQ(held, 0u);
    EXPECT_TRUE(ended) << "ended from construction";
    auto bytes = counting(500);
    ring.SetData(bytes.data(), 500);
    ring.GetState(&held, &ended);
    EXPECT_EQ(held, 500u);
    EXPECT_FALSE(ended) << "ended but still holding data";
    ring.DropData(200);
    std::vector<unsigned char> out(500);
    DWORD got = 0;
    ring.GetData(out.data(), 1, &got);
    EXPECT_EQ(out[0], bytes[200]);
    ring.DropData(100000);
    EXPECT_EQ(ring.available(), 0u);
    ring.GetState(&held, &ended);
    EXPECT_TRUE(ended);
    ring.SetEnded(false);
    ring.GetState(&held, &ended);
    EXPECT_FALSE(ended);
    got = 9;
    EXPECT_EQ(ring.GetData(out.data(), 10, &got), CRingBuffer::EMPTY);
    EXPECT_EQ(got, 0u);
    got = 9;
    EXPECT_EQ(ring.GetLatestData(out.data(), 10, &got), CRingBuffer::EMPTY);
    EXPECT_EQ(got, 0u);
    ring.SetData(bytes.data(), 50);
    ring.Clear();
    EXPECT_EQ(ring.available(), 0u);
    EXPECT_EQ(ring.freeSpace(), 10000u);
}

} // namespace
