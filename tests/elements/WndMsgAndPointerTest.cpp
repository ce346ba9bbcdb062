#include "CPointer.h"
#include "CSerializablePointer.h"
#include "CWndMsg.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(WndMsg, StoresThreeLittleEndianFieldsAndRestoresThem)
{
    CWndMsg message(0x8001, 2, 3);
    EXPECT_STREQ("CWndMsg", message.getClassName());
    ASSERT_EQ(12u, message.getSerializedSize());
    std::vector<unsigned char> stored(13, 0xEE);
    ASSERT_TRUE(message.store(stored.data()));
    EXPECT_EQ("01 80 00 00 02 00 00 00 03 00 00 00 EE", hexBytes(stored));

    CWndMsg restored(0, 0, 0);
    unsigned consumed = 0;
    ASSERT_TRUE(restored.restore(stored.data(), 13, &consumed));
    EXPECT_EQ(12u, consumed);
    EXPECT_EQ(0x8001u, restored.getMsg());
    EXPECT_EQ(2u, restored.getWParam());
    EXPECT_EQ(3u, restored.getLParam());
}

TEST(WndMsg, RestoreFromTooFewBytesFailsAndLeavesTheValue)
{
    const unsigned char bytes[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    CWndMsg message(7, 8, 9);
    unsigned consumed = 99;
    EXPECT_FALSE(message.restore(bytes, sizeof(bytes), &consumed));
    EXPECT_EQ(0u, consumed);
    EXPECT_EQ("msg 00000007, wparam 00000008, lparam 00000009", message.toString());
}

TEST(WndMsg, TextEqualityHashAndCopy)
{
    CWndMsg message(0x000F, 0xABCDEF12, 0);
    EXPECT_EQ("msg 0000000f, wparam abcdef12, lparam 00000000", message.toString());
    EXPECT_EQ(0x0F, message.hashCode());
    EXPECT_TRUE(message.isEquatable());

    CWndMsg copy(message);
    EXPECT_TRUE(copy.equals(&message));
    CWndMsg assigned(1, 1, 1);
    assigned = message;
    EXPECT_TRUE(assigned.equals(&message));
    struct {
        CWndMsg other;
        bool equal;
    } cases[] = {{CWndMsg(0x0F, 0xABCDEF12, 0), true},
                 {CWndMsg(0x0E, 0xABCDEF12, 0), false},
                 {CWndMsg(0x0F, 0xABCDEF13, 0), false},
                 {CWndMsg(0x0F, 0xABCDEF12, 1), false}};
    for (const auto& c : cases)
        EXPECT_EQ(c.equal, message.equals(&c.other)) << c.other.toString();
    CSerializablePointer pointer(nullptr);
    EXPECT_FALSE(message.equals(&pointer));
    EXPECT_FALSE(message.equals(nullptr));
}

TEST(SerializablePointer, CannotBeStoredOrRestored)
{
    int target = 0;
    CSerializablePointer pointer(&target);
    EXPECT_STREQ("CSerializablePointer", pointer.getClassName());
    EXPECT_EQ(0u, pointer.getSerializedSize());
    unsigned char destination[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_FALSE(pointer.store(destination));
    EXPECT_EQ("EE EE EE EE", hexBytes(destination, sizeof(destination)));
    unsigned consumed = 9;
    EXPECT_FALSE(pointer.restore(destination, sizeof(destination), &consumed));
    EXPECT_EQ(0u, consumed);
    EXPECT_EQ(&target, pointer.getPointer());
}

TEST(SerializablePointer, TextEqualityAndHash)
{
    CSerializablePointer pointer(reinterpret_cast<void*>(0xAB12));
    EXPECT_EQ("ptr= 0x0000AB12", pointer.toString());
    EXPECT_EQ(0xAB12, pointer.hashCode());
    EXPECT_TRUE(pointer.isEquatable());

    CSerializablePointer same(reinterpret_cast<void*>(0xAB12));
    CSerializablePointer other(reinterpret_cast<void*>(0xAB13));
    CPointer plain(reinterpret_cast<void*>(0xAB12));
    CWndMsg message(0xAB12, 0, 0);
    EXPECT_TRUE(pointer.equals(&same));
    EXPECT_FALSE(pointer.equals(&other));
    EXPECT_FALSE(pointer.equals(&plain)) << "only another CSerializablePointer can be equal";
    EXPECT_FALSE(pointer.equals(&message));
}

} // namespace
