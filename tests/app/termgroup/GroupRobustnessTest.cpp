// Corrupted arguments of every method with one, as a session delivers them (byte buffers that
// end at a guard page), to a master and a slave copy: both live, hold at most the limit of
// members, and have exactly the receivers that their lists give. Deterministic: the seed is
// printed and fixed.
#include "GroupFixtures.h"

#include "CLocalMethod.h"
#include "GuardedBlock.h"
#include "PayloadCorrupter.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

const unsigned SEED = 20261212;
const int CASES = 100000;
const int CHECK_EVERY = 2000;
const DWORD TIME_LIMIT_MS = 400000;
// One INS_initTAM in so many is a list longer than the limit.
const unsigned LONG_LIST_ONE_IN = 500;

typedef std::vector<unsigned char> Bytes;

Bytes textBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

struct Method {
    const char* name;
    std::vector<std::string> bases;
};

} // namespace

TEST(TerminalGroupRobustness, CorruptedArgumentsLeaveBothCopiesSound)
{
    printf("seed %u\n", SEED);
    TempDir dir;
    TraceCapture capture;
    // The master alone on its session; the slave on another, whose host holds no copy, so it
    // stays synchronising and takes every list text.
    SessionHub masterHub("HOST"), slaveHub("HOST");
    TableLookup lookup;
    lookup.setAddress("A", "10.0.0.1");
    lookup.setAddress("SELF", "10.0.0.2");
    RecordingBroadcast masterBroadcast, slaveBroadcast;
    TestGroup master(GROUP_ID, true, "HOST", 5000, "", "", &lookup, &masterBroadcast);
    TestGroup slave(GROUP_ID, false, "SELF", 5001, "HOST", MASTER_IP, nullptr, &slaveBroadcast);
    master.start("M_TERMGP");
    slave.start("S_TERMGP");
    masterHub.host().plugIn("", &master);
    slaveHub.join("SELF").plugIn("", &slave);
    ASSERT_TRUE(waitUntil([&] { return !slaveHub.traffic().empty(); })) << "the slave never asked to synchronise";

    const std::vector<Method> methods = {
        {"INS_initTAM",
         {"A 1.1.1.1 11_MEMBER_SEP_B 2.2.2.2 22_MEMBER_SEP_SELF 3.3.3.3 33_MEMBER_SEP_HOST INVALID_IPADDRESS 5000",
          "C INVALID_IPADDRESS 7_MEMBER_SEP_D 192.168.1.20 65535"}},
        {"INS_initIpAddress", {"10.0.0.7", "INVALID_IPADDRESS"}},
        {"COP_addMember",
         {"A 1.1.1.1 11", "HOST INVALID_IPADDRESS 5000", "SELF 1.1.1.1 5001", "B INVALID_IPADDRESS 7",
          "E 10.1.2.3 4000 and more"}},
        {"COP_removeMember", {"A", "SELF", "HOST", "B"}},
        {"COP_updateMemberDesc", {"A 9.9.9.9 99", "HOST 1.2.3.4 5", "B 10.0.0.9 7", "SELF 1.1.1.1 5001"}},
        {"INS_updateIpAddress", {"10.0.0.8", "INVALID_IPADDRESS"}},
        {"LOC_removeSessionLostMember", {"A", "B", "SELF"}},
    };
    std::vector<PayloadCorrupter> corrupters;
    for (size_t m = 0; m < methods.size(); ++m) {
        std::vector<Bytes> bases;
        for (const std::string& base : methods[m].bases)
            bases.push_back(textBytes(base));
        corrupters.emplace_back(SEED + static_cast<unsigned>(m), bases);
    }
    std::string longList;
    for (size_t i = 0; i < CTerminalGroup::MEMBER_LIMIT + 50; ++i)
        longList += (i ? "_MEMBER_SEP_L" : "L") + std::to_string(i) + " 10.2." + std::to_string(i / 200) + "."
                    + std::to_string(i % 200 + 1) + " " + std::to_string(6000 + i);
    PayloadCorrupter longCorrupter(SEED + 100, {textBytes(longList)});
    std::mt19937 pick(SEED + 200);

    auto sound = [&](int at) {
        for (TestGroup* copy : {&master, &slave}) {
            bool isMaster = copy == &master;
            std::map<std::string, std::string> tam = copy->tam();
            EXPECT_LE(tam.size(), CTerminalGroup::MEMBER_LIMIT) << at;
            RecordingBroadcast& broadcast = isMaster ? masterBroadcast : slaveBroadcast;
            EXPECT_EQ(expectedReceivers(tam, isMaster ? "HOST" : "SELF", isMaster ? "" : "HOST", MASTER_IP),
                      broadcast.receivers())
                << (isMaster ? "master" : "slave") << " after case " << at;
        }
        return !::testing::Test::HasFailure();
    };

    ULONGLONG start = GetTickCount64();
    size_t largest = 0;
    for (int i = 0; i < CASES; ++i) {
        for (size_t m = 0; m < methods.size(); ++m) {
            bool longOne = m == 0 && pick() % LONG_LIST_ONE_IN == 0;
            Bytes bytes = longOne ? longCorrupter.next() : corrupters[m].next();
            GuardedBlock block(bytes);
            master.deliverBytes(methods[m].name, block.data(), block.size(), "PEER");
            slave.deliverBytes(methods[m].name, block.data(), block.size(), "HOST");
        }
        if ((i + 1) % CHECK_EVERY == 0) {
            largest = std::max({largest, master.tam().size(), slave.tam().size()});
            ASSERT_TRUE(sound(i));
            capture.clear();
            masterHub.clearTraffic();
            slaveHub.clearTraffic();
        }
        ASSERT_LT(GetTickCount64() - start, TIME_LIMIT_MS) << "case " << i;
    }
    ASSERT_TRUE(sound(CASES));
    printf("%d cases for each of %zu methods in %llu ms; largest list %zu\n", CASES, methods.size(),
           GetTickCount64() - start, largest);
    EXPECT_GT(largest, CTerminalGroup::MEMBER_LIMIT / 2);

    // Both handler threads still take calls: each removes a member it holds.
    for (TestGroup* copy : {&master, &slave}) {
        std::map<std::string, std::string> tam = copy->tam();
        ASSERT_FALSE(tam.empty());
        std::string member = tam.begin()->first;
        CLocalMethod::postMethodStr(copy->getObjectId(), "COP_removeMember", member);
        EXPECT_TRUE(waitUntil([&] { return !copy->isMember(member); })) << member;
    }
    slaveHub.terminal("SELF").close();
    masterHub.host().close();
    master.end();
    slave.end();
}
