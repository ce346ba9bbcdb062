#include "CArrayIndexOutOfBoundsException.h"
#include "CInteger.h"
#include "CNoSuchElementException.h"
#include "CVector.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>

namespace {

// Counts live instances, to see what the vector deletes.
struct Tracked : CJObject {
    static std::atomic<int> alive;
    Tracked() { ++alive; }
    ~Tracked() override { --alive; }
};
std::atomic<int> Tracked::alive{0};

template <class E, class F>
void expectThrows(F action, const char* message)
{
    try {
        action();
        ADD_FAILURE() << "nothing thrown, expected " << message;
    } catch (const E& e) {
        EXPECT_EQ(message, e.toString());
    }
}

class VectorTest : public testing::Test {
protected:
    CVector vector{10, -1};
    CInteger a{1}, b{2}, c{3};
};

TEST_F(VectorTest, StartsEmpty)
{
    EXPECT_EQ(0, vector.size());
    EXPECT_TRUE(vector.isEmpty());
    EXPECT_EQ(nullptr, vector.elementAt(0));
    vector.removeElementAt(0);
    vector.removeAllElements();
    vector.deleteAllElements();
    expectThrows<CNoSuchElementException>([&] { vector.firstElement(); }, "CNoSuchElementException");
}

TEST_F(VectorTest, GrowsPastItsInitialCapacityInOrder)
{
    std::vector<std::unique_ptr<CInteger>> values;
    for (int i = 0; i < 2000; ++i) {
        values.emplace_back(new CInteger(i));
        vector.addElement(values.back().get());
    }
    ASSERT_EQ(2000, vector.size());
    EXPECT_EQ(values[10].get(), vector.elementAt(10));
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(values[i].get(), vector.elementAt(i));
    EXPECT_EQ(values[0].get(), vector.firstElement());
    vector.removeAllElements();
}

TEST_F(VectorTest, InsertShiftsAndAppendsAtTheEnd)
{
    vector.addElement(&a);
    vector.addElement(&c);
    vector.insertElementAt(&b, 1);
    vector.insertElementAt(&c, vector.size());
    vector.insertElementAt(&a, 0);
    std::vector<CJObject*> expected = {&a, &a, &b, &c, &c};
    ASSERT_EQ(5, vector.size());
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(expected[i], vector.elementAt(i)) << i;
    expectThrows<CArrayIndexOutOfBoundsException>([&] { vector.insertElementAt(&a, vector.size() + 1); },
                                                  "CArrayIndexOutOfBoundsException");
    expectThrows<CArrayIndexOutOfBoundsException>([&] { vector.insertElementAt(&a, -1); },
                                                  "CArrayIndexOutOfBoundsException");
    EXPECT_EQ(5, vector.size());
    vector.removeAllElements();
}

TEST_F(VectorTest, InsertIntoAFreshVector)
{
    vector.insertElementAt(&a, 0);
    EXPECT_EQ(&a, vector.firstElement());
    vector.removeAllElements();
}

TEST_F(VectorTest, BadIndexesThrowAndChangeNothing)
{
    vector.addElement(&a);
    vector.addElement(&b);
    vector.addElement(&c);
    const char* message = "CArrayIndexOutOfBoundsException";
    expectThrows<CArrayIndexOutOfBoundsException>([&] { vector.elementAt(3); }, message);
    expectThrows<CArrayIndexOutOfBoundsException>([&] { vector.elementAt(-1); }, message);
    expectThrows<CArrayIndexOutOfBoundsException>([&] { vector.removeElementAt(3); }, message);
    expectThrows<CArrayIndexOutOfBoundsException>([&] { vector.removeElementAt(-1); }, message);
    EXPECT_EQ(3, vector.size());
    // The monitor was released on the way out: another thread can use the vector.
    Worker other;
    other.post([&] { vector.size(); });
    EXPECT_TRUE(other.waitIdle(10000));
    vector.removeElementAt(1);
    EXPECT_EQ(&c, vector.elementAt(1));
    vector.removeAllElements();
}

TEST_F(VectorTest, RemoveElementTakesTheLastEqualOne)
{
    CInteger firstFive(5), secondFive(5), probe(5);
    vector.addElement(&firstFive);
    vector.addElement(&a);
    vector.addElement(&secondFive);
    vector.addElement(&b);
    EXPECT_TRUE(vector.removeElement(&probe));
    ASSERT_EQ(3, vector.size());
    EXPECT_EQ(&firstFive, vector.elementAt(0));
    EXPECT_EQ(&b, vector.elementAt(2));
    CInteger nine(9);
    EXPECT_FALSE(vector.removeElement(&nine));
    vector.removeAllElements();
}

TEST_F(VectorTest, RemoveElementNeedsEquality)
{
    CJObject plain;
    vector.addElement(&plain);
    EXPECT_FALSE(vector.removeElement(&plain));
    EXPECT_EQ(1, vector.size());
    vector.addElement(nullptr);
    EXPECT_TRUE(vector.removeElement(nullptr));
    EXPECT_EQ(1, vector.size());
    vector.removeAllElements();
}

TEST_F(VectorTest, ContainsByEqualityOrIdentity)
{
    CJObject plain, otherPlain;
    vector.addElement(&plain);
    vector.addElement(&a);
    CInteger equalToA(1), notHeld(42);
    EXPECT_TRUE(vector.contains(&plain));
    EXPECT_FALSE(vector.contains(&otherPlain));
    EXPECT_TRUE(vector.contains(&equalToA));
    EXPECT_FALSE(vector.contains(&notHeld));
    EXPECT_FALSE(vector.contains(nullptr));
    vector.removeAllElements();
}

TEST(Vector, RemoveAllForgetsWhileDeleteAllDestroys)
{
    Tracked::alive = 0;
    std::vector<std::unique_ptr<Tracked>> owned;
    {
        CVector forget(10, -1);
        for (int i = 0; i < 3; ++i) {
            owned.emplace_back(new Tracked);
            forget.addElement(owned.back().get());
        }
        forget.removeAllElements();
        EXPECT_TRUE(forget.isEmpty());
        EXPECT_EQ(3, Tracked::alive.load());
        // Usable again after being emptied.
        forget.addElement(owned[0].get());
        EXPECT_EQ(owned[0].get(), forget.firstElement());
        forget.removeAllElements();
    }
    owned.clear();
    CVector remove(10, -1);
    for (int i = 0; i < 4; ++i)
        remove.addElement(new Tracked);
    remove.addElement(nullptr);
    EXPECT_EQ(4, Tracked::alive.load());
    remove.deleteAllElements();
    EXPECT_EQ(0, Tracked::alive.load());
    EXPECT_TRUE(remove.isEmpty());
}

TEST(Vector, DestroyingAFullVectorLeavesTheElements)
{
    Tracked::alive = 0;
    Tracked element;
    {
        CVector vector(10, -1);
        vector.addElement(&element);
    }
    EXPECT_EQ(1, Tracked::alive.load());
}

// Producers append while consumers take from the front: every element arrives exactly once.
TEST(Vector, SurvivesThreadsHammeringIt)
{
    const int producers = 4, perProducer = 2500, total = producers * perProducer;
    std::vector<std::unique_ptr<CInteger>> values;
    for (int i = 0; i < total; ++i)
        values.emplace_back(new CInteger(i));
    CVector queue(10, -1);
    std::atomic<int> taken{0};
    std::vector<int> seen(total, 0);
    {
        std::vector<std::unique_ptr<Worker>> workers;
        for (int p = 0; p < producers; ++p) {
            workers.emplace_back(new Worker);
            workers.back()->post([&, p] {
                for (int i = 0; i < perProducer; ++i) {
                    queue.addElement(values[p * perProducer + i].get());
                    if (i % 100 == 0) {
                        // A transient front entry, atomic for the consumers.
                        queue.ObjectLock(2, "VectorTest");
                        queue.insertElementAt(nullptr, 0);
                        queue.removeElementAt(0);
                        queue.ObjectUnLock();
                    }
                }
            });
        }
        for (int k = 0; k < 2; ++k) {
            workers.emplace_back(new Worker);
            workers.back()->post([&] {
                DWORD start = GetTickCount();
                while (taken < total && GetTickCount() - start < 60000) {
                    CJObject* element = nullptr;
                    queue.ObjectLock(1, "VectorTest");
                    if (!queue.isEmpty()) {
                        element = queue.firstElement();
                        queue.removeElementAt(0);
                    }
                    queue.ObjectUnLock();
                    if (element == nullptr) {
                        Sleep(0);
                        continue;
                    }
                    ++seen[static_cast<CInteger*>(element)->intValue()];
                    ++taken;
                }
            });
        }
    }
    EXPECT_EQ(total, taken.load());
    EXPECT_TRUE(queue.isEmpty());
    for (int i = 0; i < total; ++i)
        ASSERT_EQ(1, seen[i]) << "element " << i;
}

} // namespace
