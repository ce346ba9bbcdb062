// List records: their numbers are the handles clients hold, so a number must never resolve to
// a list head.
#include "CQuarnListItem.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

TEST(QuarnListItem, NumbersAreNeverZeroAndGrow)
{
    std::vector<std::unique_ptr<CQuarnListItem>> items;
    for (int i = 0; i < 100; ++i)
        items.emplace_back(new CQuarnListItem);
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_NE(0u, items[i]->GetId());
        if (i > 0) {
            EXPECT_GT(items[i]->GetId(), items[i - 1]->GetId());
        }
    }
}

TEST(QuarnListItem, LinksAtTheTailAndUnlinksOnDelete)
{
    CQuarnListItem head;
    CQuarnListItem first;
    std::unique_ptr<CQuarnListItem> second(new CQuarnListItem);
    CQuarnListItem third;
    EXPECT_FALSE(first.IsLinked());
    ASSERT_TRUE(first.LinkTail(&head));
    ASSERT_TRUE(second->LinkTail(&head));
    ASSERT_TRUE(third.LinkTail(&head));
    EXPECT_EQ(&first, head.GetFirst());
    EXPECT_EQ(second.get(), first.GetNext());
    EXPECT_EQ(3u, head.CountUpTo(10));
    EXPECT_EQ(2u, head.CountUpTo(2));

    second.reset();
    EXPECT_EQ(&third, first.GetNext());
    EXPECT_EQ(&first, third.GetPrev());
    third.Unlink();
    first.Unlink();
    EXPECT_EQ(nullptr, head.GetFirst());
    EXPECT_EQ(0u, head.CountUpTo(10));
}

TEST(QuarnListItem, OnlyAnUnlinkedRecordLinksAndOnlyIntoASoundList)
{
    CQuarnListItem head;
    CQuarnListItem other;
    CQuarnListItem record;
    ASSERT_TRUE(record.LinkTail(&head));
    SetLastError(0);
    EXPECT_FALSE(record.LinkTail(&other));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(&record, head.GetFirst());
    CQuarnListItem loose;
    EXPECT_FALSE(loose.LinkTail(nullptr));
    EXPECT_FALSE(loose.LinkTail(&loose));
    EXPECT_FALSE(loose.IsLinked());
}

TEST(QuarnListItem, FindByIdNeverGivesAHead)
{
    CQuarnListItem head;
    CQuarnListItem otherHead;
    CQuarnListItem a;
    CQuarnListItem b;
    ASSERT_TRUE(a.LinkTail(&head));
    ASSERT_TRUE(b.LinkTail(&head));
    EXPECT_EQ(&b, head.FindById(b.GetId()));
    EXPECT_EQ(&a, head.FindById(a.GetId()));
    for (DWORD id : {head.GetId(), otherHead.GetId(), DWORD(0), DWORD(0xFFFFFFFF)}) {
        SetLastError(0);
        EXPECT_EQ(nullptr, head.FindById(id)) << id;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError()) << id;
    }
}

} // namespace
