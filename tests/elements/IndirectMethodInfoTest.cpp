#include "CIndirectMethodInfo.h"

#include "CIllegalArgumentException.h"
#include "CNullPointerException.h"
#include "UiThreadHarness.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

CElement* const SOME_ELEMENT = reinterpret_cast<CElement*>(static_cast<uintptr_t>(0x1000));

LRESULT someExecutor(CIndirectMethodInfo*)
{
    return 0;
}

TEST(IndirectMethodInfo, MethodCallKeepsItsOwnCopyOfTheBuffer)
{
    char bytes[] = {'a', 'b', '\0', 'c'};
    CIndirectMethodInfo info(IIM_SYNC_BUFARG, SOME_ELEMENT, "LOC_copy", nullptr, sizeof(bytes), bytes);
    memset(bytes, 'x', sizeof(bytes));

    EXPECT_EQ(IIM_SYNC_BUFARG, info.getKind());
    EXPECT_EQ(SOME_ELEMENT, info.getTarget());
    EXPECT_EQ("LOC_copy", info.getMethodName());
    ASSERT_EQ(4, info.getBufSize());
    ASSERT_NE(nullptr, info.getBuf());
    EXPECT_NE(static_cast<const void*>(bytes), static_cast<const void*>(info.getBuf()));
    EXPECT_EQ(0, memcmp("ab\0c", info.getBuf(), 4));
    EXPECT_EQ(nullptr, info.getExecutor());
    info.setExecutor(&someExecutor);
    EXPECT_EQ(&someExecutor, info.getExecutor());
    // A method call has no window part.
    EXPECT_EQ("", info.getWindowName());
    EXPECT_EQ(0u, info.getMsg());
    EXPECT_EQ(0u, info.getWParam());
    EXPECT_EQ(0, info.getLParam());
}

TEST(IndirectMethodInfo, BufferOnlyWhenAnAddressIsGiven)
{
    CIndirectMethodInfo none(IIM_ASYNC_NOARG, SOME_ELEMENT, "m", nullptr, 12, nullptr);
    EXPECT_EQ(nullptr, none.getBuf());
    EXPECT_EQ(0, none.getBufSize());

    char byte = 'q';
    CIndirectMethodInfo empty(IIM_ASYNC_BUFARG, SOME_ELEMENT, "m", nullptr, 0, &byte);
    EXPECT_NE(nullptr, empty.getBuf());
    EXPECT_EQ(0, empty.getBufSize());
}

TEST(IndirectMethodInfo, NegativeBufferSizeIsRefusedAndTheArgumentStaysTheCallers)
{
    std::atomic<int> deleted{0};
    DeletionProbe argument(&deleted);
    char byte = 'q';
    EXPECT_THROW(CIndirectMethodInfo(IIM_ASYNC_BUFARG, SOME_ELEMENT, "m", &argument, -1, &byte),
                 CIllegalArgumentException);
    EXPECT_EQ(0, deleted);
}

TEST(IndirectMethodInfo, WindowMessage)
{
    CIndirectMethodInfo info(IIM_SYNC_WNDMSG, "7", WM_APP + 103, static_cast<WPARAM>(-2), LPARAM(-3));
    EXPECT_EQ(IIM_SYNC_WNDMSG, info.getKind());
    EXPECT_EQ("7", info.getWindowName());
    EXPECT_EQ(UINT(WM_APP + 103), info.getMsg());
    EXPECT_EQ(static_cast<WPARAM>(-2), info.getWParam());
    EXPECT_EQ(LPARAM(-3), info.getLParam());
    EXPECT_EQ(nullptr, info.getTarget());
    EXPECT_EQ(nullptr, info.getExecutor());
    EXPECT_EQ(nullptr, info.getBuf());
    EXPECT_EQ(nullptr, info.takeArg());
}

TEST(IndirectMethodInfo, ArgumentIsTakenOnceAndThenBelongsToTheTaker)
{
    std::atomic<int> deleted{0};
    auto* argument = new DeletionProbe(&deleted);
    {
        CIndirectMethodInfo info(IIM_ASYNC_OBJARG, SOME_ELEMENT, "m", argument, 0, nullptr);
        EXPECT_EQ(argument, info.takeArg());
        try {
            info.takeArg();
            ADD_FAILURE() << "a second takeArg must throw";
        } catch (CNullPointerException& e) {
            EXPECT_NE(std::string::npos, e.getMessage().find("second")) << e.getMessage();
        }
    }
    EXPECT_EQ(0, deleted) << "a taken argument is not the record's to delete";
    delete argument;

    // Each record has its own argument to give: a later one is taken once too, and a record
    // without argument gives null once.
    CIndirectMethodInfo later(IIM_ASYNC_OBJARG, SOME_ELEMENT, "m", new DeletionProbe(&deleted), 0, nullptr);
    delete later.takeArg();
    EXPECT_THROW(later.takeArg(), CNullPointerException);
    CIndirectMethodInfo without(IIM_ASYNC_OBJARG, SOME_ELEMENT, "m", nullptr, 0, nullptr);
    EXPECT_EQ(nullptr, without.takeArg());
    EXPECT_THROW(without.takeArg(), CNullPointerException);
}

TEST(IndirectMethodInfo, RecordDeletesAnArgumentNotTaken)
{
    std::atomic<int> deleted{0};
    CIndirectMethodInfo* info = new CIndirectMethodInfo(IIM_SYNC_OBJARG, SOME_ELEMENT, "m",
                                                        new DeletionProbe(&deleted), 0, nullptr);
    delete info;
    EXPECT_EQ(1, deleted);
}

} // namespace
