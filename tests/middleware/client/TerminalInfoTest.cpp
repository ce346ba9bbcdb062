#include "CTerminalInfo.h"

#include <gtest/gtest.h>

namespace {

void expectSame(const CTerminalInfo& a, const CTerminalInfo& b)
{
    EXPECT_EQ(a.isValid(), b.isValid());
    EXPECT_EQ(a.getCategory(), b.getCategory());
    EXPECT_EQ(a.getIpAddress(), b.getIpAddress());
    EXPECT_EQ(a.getPortNum(), b.getPortNum());
    EXPECT_EQ(a.getOptionalData(), b.getOptionalData());
}

TEST(TerminalInfo, DefaultIsInvalidEmptyWithPortZero)
{
    CTerminalInfo info;
    EXPECT_FALSE(info.isValid());
    EXPECT_EQ("", info.getCategory());
    EXPECT_EQ("", info.getIpAddress());
    EXPECT_EQ("", info.getOptionalData());
    EXPECT_EQ(0, info.getPortNum());
    info.setValid();
    EXPECT_TRUE(info.isValid());
    EXPECT_EQ("", info.getCategory());
}

TEST(TerminalInfo, CopyAndAssignTakeEveryField)
{
    CTerminalInfo host("Server", "0.0.0.0", 4997, "TIME=1 SESSION=x");
    EXPECT_TRUE(host.isValid());
    CTerminalInfo copy(host);
    expectSame(host, copy);
    CTerminalInfo invalid;
    copy = invalid;
    expectSame(invalid, copy);
    copy = host;
    expectSame(host, copy);
    copy.setInvalid();
    EXPECT_TRUE(host.isValid());
    EXPECT_FALSE(copy.isValid());
}

} // namespace
