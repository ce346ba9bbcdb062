// Collecting one message from its fragments: storage follows what arrived.
#include <gtest/gtest.h>

#include "CDPlayBufferPool.h"
#include "CDPlayReassembly.h"
#include "CDPlayWire.h"

#include <algorithm>
#include <vector>

namespace {

constexpr size_t kStep = CDPlayReassembly::kStep;

std::vector<BYTE> pattern(size_t size) {
  std::vector<BYTE> out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<BYTE>(i * 7 + (i >> 12));
  return out;
}

struct Row {
  const char* name;
  size_t total;
  size_t fragment;        // size of each fragment after the first (the first is 1 byte)
  size_t reservedAtStart;  // held after the first byte
};

const Row kRows[] = {
    {"Small", 100, 30, 100},
    {"JustUnderAPoolBlock", CDPlayBufferPool::kMinSize - 1, 4096, CDPlayBufferPool::kMinSize - 1},
    {"OneStep", kStep, CDPlayWire::kMaxFragment, kStep},
    {"OneByteOverAStep", kStep + 1, CDPlayWire::kMaxFragment, kStep},
    {"Largest", CDPlayWire::kMaxMessage, CDPlayWire::kMaxFragment, kStep},
};

class Reassembly : public testing::TestWithParam<Row> {};

}  // namespace

TEST_P(Reassembly, HoldsWhatArrivedPlusAtMostOneStepAndGivesTheMessageWhole) {
  const Row& row = GetParam();
  std::vector<BYTE> message = pattern(row.total);
  CDPlayReassembly part;
  EXPECT_EQ(row.reservedAtStart, CDPlayReassembly::reserveToBegin(static_cast<DWORD>(row.total)));
  part.begin(static_cast<DWORD>(row.total), message.data(), 1);
  EXPECT_TRUE(part.active());
  EXPECT_EQ(row.reservedAtStart, part.reserved());
  for (size_t at = 1; at < row.total;) {
    DWORD n = static_cast<DWORD>(std::min(row.fragment, row.total - at));
    size_t before = part.reserved();
    size_t growth = part.growthFor(n);
    part.append(message.data() + at, n);
    at += n;
    EXPECT_EQ(before + growth, part.reserved()) << "at " << at;
    ASSERT_LE(part.reserved(), std::max(at + kStep, row.reservedAtStart)) << "at " << at;
    EXPECT_EQ(row.total - at, part.missing());
  }
  ASSERT_TRUE(part.complete());
  std::shared_ptr<const std::vector<BYTE>> whole = part.take();
  EXPECT_TRUE(*whole == message);
  EXPECT_FALSE(part.active());
  EXPECT_EQ(0u, part.reserved());
}

INSTANTIATE_TEST_SUITE_P(Each, Reassembly, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });
