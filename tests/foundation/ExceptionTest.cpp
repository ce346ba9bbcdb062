#include "CArrayIndexOutOfBoundsException.h"
#include "CDiskFullException.h"
#include "CFatalTroubleException.h"
#include "CFatalTroubleRecommendRebootException.h"
#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CIllegalThreadStateException.h"
#include "CLusException.h"
#include "CMsgUnreachedException.h"
#include "CNoSuchElementException.h"
#include "CNoSuchMethodException.h"
#include "CNotSerializableException.h"
#include "CNullPointerException.h"
#include "COutOfMemoryException.h"
#include "CTimeOutException.h"
#include "CUnexpectedException.h"
#include "CUnknownHostException.h"
#include "CWin32LastErrorException.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <typeinfo>

namespace {

template <class E>
std::function<void()> thrower()
{
    return [] { throw E("message of " + std::string(typeid(E).name())); };
}

TEST(Exception, CatchingTheRootCatchesEveryClass)
{
    std::vector<std::function<void()>> throwers = {
        thrower<CJException>(),
        thrower<CIOException>(),
        thrower<CUnknownHostException>(),
        thrower<CIllegalThreadStateException>(),
        thrower<CNullPointerException>(),
        thrower<CIllegalArgumentException>(),
        thrower<CIllegalStateException>(),
        thrower<CNotSerializableException>(),
        thrower<CNoSuchMethodException>(),
        thrower<CNoSuchElementException>(),
        thrower<CArrayIndexOutOfBoundsException>(),
        thrower<COutOfMemoryException>(),
        thrower<CDiskFullException>(),
        thrower<CWin32LastErrorException>(),
        thrower<CMsgUnreachedException>(),
        thrower<CTimeOutException>(),
        thrower<CUnexpectedException>(),
        thrower<CLusException>(),
        thrower<CFatalTroubleException>(),
        thrower<CFatalTroubleRecommendRebootException>(),
    };
    for (auto& raise : throwers) {
        bool caught = false;
        try {
            raise();
        } catch (CJException& e) {
            caught = true;
            EXPECT_EQ(0u, e.toString().find("message of ")) << e.toString();
            EXPECT_EQ(e.toString(), e.getMessage());
            EXPECT_STREQ("CJException", e.getClassName());
        }
        EXPECT_TRUE(caught);
    }
}

TEST(Exception, IOHandlerDoesNotCatchFatalTrouble)
{
    bool caughtAsRoot = false;
    try {
        try {
            throw CFatalTroubleException("x");
        } catch (CIOException&) {
            FAIL();
        }
    } catch (CJException&) {
        caughtAsRoot = true;
    }
    EXPECT_TRUE(caughtAsRoot);
}

TEST(Exception, DefaultConstructorsHaveEmptyMessage)
{
    EXPECT_EQ("", CJException().toString());
    EXPECT_EQ("", CNullPointerException().toString());
    EXPECT_EQ("", CIllegalArgumentException().toString());
    EXPECT_EQ("", COutOfMemoryException().toString());
}

TEST(Exception, StoredFormIsMessageAndNul)
{
    CIllegalStateException bad("bad");
    ISerializable& value = bad;
    ASSERT_EQ(4u, value.getSerializedSize());
    unsigned char bytes[4];
    ASSERT_TRUE(value.store(bytes));
    EXPECT_EQ("62 61 64 00", hexBytes(bytes, sizeof(bytes)));
    EXPECT_STREQ("CJException", value.getClassName());

    CJException restored;
    unsigned consumed = 99;
    ASSERT_TRUE(restored.restore(bytes, sizeof(bytes), &consumed));
    EXPECT_EQ(4u, consumed);
    EXPECT_EQ("bad", restored.toString());
}

TEST(Exception, EmptyMessageStoresOneNul)
{
    CJException empty;
    ASSERT_EQ(1u, empty.getSerializedSize());
    unsigned char byte = 0xAA;
    ASSERT_TRUE(empty.store(&byte));
    EXPECT_EQ(0, byte);
}

TEST(Exception, RestoreStopsAtTheFirstNulAndRefusesATextWithoutOne)
{
    const unsigned char block[] = {'h', 'i', 0, 'x', 'y'};
    CJException e("before");
    unsigned consumed = 99;
    ASSERT_TRUE(e.restore(block, sizeof(block), &consumed));
    EXPECT_EQ("hi", e.toString());
    EXPECT_EQ(3u, consumed);

    CJException unchanged("before");
    consumed = 99;
    EXPECT_FALSE(unchanged.restore(block, 2, &consumed));
    EXPECT_EQ("before", unchanged.toString());
    EXPECT_EQ(0u, consumed);
}

TEST(Exception, CopyAndSetMessage)
{
    CIOException original("first");
    CIOException copy(original);
    original.setMessage("second");
    EXPECT_EQ("first", copy.toString());
    EXPECT_EQ("second", original.toString());
}

TEST(Exception, Win32ErrorCodeIsKeptButOnlyTheMessageTravels)
{
    // Many of them: building library objects may trace (every 20th does), which must not
    // disturb the code being recorded.
    for (int i = 0; i < 45; ++i) {
        SetLastError(5);
        CWin32LastErrorException e("denied");
        EXPECT_EQ(5u, e.getErrorCode());
        CWin32LastErrorException copy(e);
        EXPECT_EQ(5u, copy.getErrorCode());
        EXPECT_EQ(7u, e.getSerializedSize());
    }
}

} // namespace
