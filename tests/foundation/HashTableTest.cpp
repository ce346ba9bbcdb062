#include "CBool.h"
#include "CHashTable.h"
#include "CInteger.h"
#include "CJString.h"
#include "CNullPointerException.h"
#include "CVector.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

std::set<CJObject*> contentsOf(CVector* vector)
{
    std::set<CJObject*> contents;
    for (int i = 0; i < vector->size(); ++i)
        contents.insert(vector->elementAt(i));
    vector->removeAllElements();
    delete vector;
    return contents;
}

TEST(HashTable, EqualKeysShareOneMappingUnderTheFirstKey)
{
    CHashTable table;
    CInteger firstKey(7), probe(7), thirdKey(7);
    CJString one(std::string("one")), two(std::string("two"));
    table.put(&firstKey, &one);
    EXPECT_EQ(&one, table.get(&probe));
    EXPECT_TRUE(table.containsKey(&probe));
    table.put(&thirdKey, &two);
    EXPECT_EQ(1, table.size());
    EXPECT_EQ(&two, table.get(&firstKey));
    EXPECT_EQ(std::set<CJObject*>{&firstKey}, contentsOf(table.keys()));
    EXPECT_EQ(std::set<CJObject*>{&two}, contentsOf(table.elements()));
}

TEST(HashTable, KeysWithoutEqualityAreFoundOnlyByIdentity)
{
    CHashTable table;
    CJObject key, otherKey;
    CJString value(std::string("v"));
    table.put(&key, &value);
    EXPECT_EQ(&value, table.get(&key));
    EXPECT_TRUE(table.containsKey(&key));
    EXPECT_EQ(nullptr, table.get(&otherKey));
    EXPECT_FALSE(table.containsKey(&otherKey));
    EXPECT_EQ(nullptr, table.remove(&otherKey));
    EXPECT_EQ(&value, table.remove(&key));
    EXPECT_TRUE(table.isEmpty());
}

TEST(HashTable, RemoveByAnEqualKey)
{
    CHashTable table;
    CJString key(std::string("stage")), probe(std::string("stage"));
    CInteger value(1);
    table.put(&key, &value);
    EXPECT_EQ(&value, table.remove(&probe));
    EXPECT_EQ(nullptr, table.remove(&probe));
    EXPECT_EQ(0, table.size());
    EXPECT_FALSE(table.containsKey(&key));
    // The key can be mapped again after its removal.
    table.put(&probe, &value);
    EXPECT_EQ(&value, table.get(&key));
}

TEST(HashTable, GroupCountBelowOneMeansOneGroup)
{
    for (int groups : {0, -5, 1, 3}) {
        CHashTable table(groups);
        std::vector<std::unique_ptr<CInteger>> keys;
        for (int i = -20; i < 20; ++i) {
            keys.emplace_back(new CInteger(i));
            table.put(keys.back().get(), keys.back().get());
        }
        EXPECT_EQ(40, table.size()) << groups;
        for (int i = -20; i < 20; ++i) {
            CInteger probe(i);
            ASSERT_NE(nullptr, table.get(&probe)) << groups << " " << i;
            EXPECT_EQ(i, static_cast<CInteger*>(table.get(&probe))->intValue());
        }
    }
}

TEST(HashTable, NegativeHashCodesStayInRange)
{
    CHashTable table;
    CInteger negative(-7), probe(-7);
    CJString highByte(std::string("\x81x")), highProbe(std::string("\x81x"));
    CInteger minimum(INT_MIN), minimumProbe(INT_MIN);
    CBool value(true);
    table.put(&negative, &value);
    table.put(&highByte, &value);
    table.put(&minimum, &value);
    EXPECT_EQ(&value, table.get(&probe));
    EXPECT_EQ(&value, table.get(&highProbe));
    EXPECT_EQ(&value, table.get(&minimumProbe));
    EXPECT_EQ(&value, table.remove(&probe));
    EXPECT_EQ(&value, table.remove(&highProbe));
    EXPECT_EQ(&value, table.remove(&minimumProbe));
    EXPECT_TRUE(table.isEmpty());
}

TEST(HashTable, NullKeyOrValueIsRefusedAndChangesNothing)
{
    CHashTable table;
    CInteger key(1), value(2);
    table.put(&key, &value);
    EXPECT_THROW(table.put(nullptr, &value), CNullPointerException);
    EXPECT_THROW(table.put(&key, nullptr), CNullPointerException);
    try {
        table.put(nullptr, &value);
    } catch (const CNullPointerException& e) {
        EXPECT_EQ("", e.toString());
    }
    EXPECT_EQ(1, table.size());
    EXPECT_EQ(&value, table.get(&key));
    EXPECT_THROW(table.containsValue(nullptr), CNullPointerException);
}

TEST(HashTable, ContainsValueUsesTheValuesEquality)
{
    CHashTable table;
    CInteger key(1), otherKey(2), value(5), equalValue(5);
    CJObject plainValue;
    table.put(&key, &value);
    table.put(&otherKey, &plainValue);
    EXPECT_TRUE(table.containsValue(&equalValue));
    EXPECT_FALSE(table.containsValue(&plainValue));
}

TEST(HashTable, ClearLeavesKeysAndValuesAlive)
{
    CHashTable table;
    CInteger key(1), probe(1);
    CJString value(std::string("alive"));
    table.put(&key, &value);
    table.clear();
    EXPECT_EQ(0, table.size());
    EXPECT_TRUE(table.isEmpty());
    EXPECT_EQ(nullptr, table.get(&probe));
    EXPECT_EQ("alive", value.toString());
    table.put(&probe, &value);
    EXPECT_EQ(&value, table.get(&key));
}

TEST(HashTable, DumpWritesEveryMappingOnlyWhenDumpIsOn)
{
    if (isChild()) {
        childTracesToFile(false);
        CHashTable table;
        CInteger key(7);
        CJString value(std::string("seven"));
        table.put(&key, &value);
        table.dump(); // dump off: nothing
        CTrace::setDumpOn();
        table.dump();
        table.get(&key); // silent again afterwards
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
    const std::string dashes = "[CHILD] [ CHashTable ] ---------------------------------------------------------";
    std::vector<std::string> expected = {
        " ---- ---- ---- ---- ---- ---- ---- ----",
        dashes,
        "[CHILD] [ CHashTable ] key,value pairs registered in the table:",
        "[CHILD] [ CHashTable ] -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- ",
        "[CHILD] [ CHashTable ]  key 7 ,  value seven",
        dashes,
    };
    EXPECT_EQ(expected, dir.logLines());
}

// Several threads put, get and remove at once: nothing is lost and equal keys never double up.
TEST(HashTable, SurvivesThreadsHammeringIt)
{
    const int threads = 4, perThread = 500, shared = 50;
    CHashTable table;
    std::vector<std::vector<std::unique_ptr<CInteger>>> owned(threads);
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < perThread + shared; ++i)
            owned[t].emplace_back(new CInteger(i < perThread ? t * 100000 + i : -(i - perThread) - 1));
    std::atomic<int> misses{0};
    {
        std::vector<std::unique_ptr<Worker>> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back(new Worker);
            workers.back()->post([&, t] {
                for (int i = 0; i < perThread + shared; ++i) {
                    CInteger* key = owned[t][i].get();
                    table.put(key, key);
                    CInteger probe(key->intValue());
                    CJObject* found = table.get(&probe);
                    if (found == nullptr || !found->equals(&probe))
                        ++misses;
                    if (i < perThread && i % 10 == 0) {
                        if (table.remove(&probe) == nullptr)
                            ++misses;
                        table.put(key, key);
                    }
                }
            });
        }
    }
    EXPECT_EQ(0, misses.load());
    EXPECT_EQ(threads * perThread + shared, table.size());
    std::set<CJObject*> keys = contentsOf(table.keys());
    EXPECT_EQ(static_cast<size_t>(threads * perThread + shared), keys.size());
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < perThread; ++i) {
            CInteger probe(t * 100000 + i);
            ASSERT_EQ(owned[t][i].get(), table.get(&probe));
        }
}

} // namespace
