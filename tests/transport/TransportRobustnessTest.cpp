// What peers send, corrupted in every way, against the DirectPlay transport: the control-data
// reader on blocks that end at a guard page, and the host's distribution of a flood of broken
// payloads among valid calls. Deterministic: the seed is printed and fixed.
#include "TransportTestKit.h"

#include "GuardedBlock.h"
#include "PayloadCorrupter.h"

#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <thread>

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned SEED = 20240612;
const int CASES = 100000;
const DWORD TIME_LIMIT_MS = 200000;

Bytes terminalLeft(const std::string& terminalId)
{
    Bytes bytes = {0, 0xFF, 0, 0, 0};
    bytes.insert(bytes.end(), terminalId.begin(), terminalId.end());
    bytes.push_back(0);
    return bytes;
}

} // namespace

TEST(TransportRobustness, TheControlDataReaderStaysInsideEveryCorruptedBlock)
{
    printf("seed %u\n", SEED);
    PayloadCorrupter corrupter(SEED, {terminalLeft("T1"), terminalLeft("a longer terminal id"), terminalLeft(""),
                               Bytes{0, 0xFF, 0, 0, 0}, Bytes{0, 0xFE, 0, 0, 0, 'T', 0}});
    ULONGLONG start = GetTickCount64();
    int accepted = 0;
    for (int i = 0; i < CASES; ++i) {
        Bytes bytes = corrupter.next();
        GuardedBlock block(bytes);
        std::string terminalId, why;
        bool read = CDirectPlay::readTerminalLeft(block.data(), static_cast<DWORD>(block.size()), &terminalId, &why);
        if (read) {
            ++accepted;
            // What it read is exactly what the block holds.
            ASSERT_GE(bytes.size(), 7u) << "case " << i;
            ASSERT_TRUE(bytes[1] == 0xFF && bytes[2] == 0 && bytes[3] == 0 && bytes[4] == 0)
                << "case " << i;
            ASSERT_FALSE(terminalId.empty()) << "case " << i;
            ASSERT_EQ(0, std::memcmp(bytes.data() + 5, terminalId.data(), terminalId.size())) << "case " << i;
            ASSERT_EQ(0, bytes[5 + terminalId.size()]) << "case " << i;
        } else {
            ASSERT_FALSE(why.empty()) << "case " << i;
        }
        ASSERT_LT(GetTickCount64() - start, TIME_LIMIT_MS) << "case " << i;
    }
    printf("%d blocks, %d read as TERMINAL_LEFT\n", CASES, accepted);
    EXPECT_GT(accepted, CASES / 50);
    EXPECT_LT(accepted, CASES / 2);
}

namespace {

class TransportFlood : public FakeDirectPlayTest {};

} // namespace

TEST_F(TransportFlood, TheHostDistributesEveryValidCallAmongBrokenPayloadsAndRaisesNoEvent)
{
    printf("seed %u\n", SEED + 1);
    std::unique_ptr<Terminal> host = openHost("H");
    fake().deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 5, "T2");
    fake().deliverPlayer(DPSYS_CREATEPLAYERORGROUP, 6, "T3");
    std::vector<Bytes> bases;
    for (const char* receiver : {"@HOST_TERMINAL", "@ALL_TERMINAL", "@ALL_TERMINAL_EXCEPT_ME", "@HAS_MASTER",
                                 "@HAS_SLAVE", "@PCS", "H", "T2", "T3", "T9", "@LOCAL_TERMINAL"})
        bases.push_back(encodeCall(receiver, "T2", "garbage", "E", 12));
    bases.push_back(terminalLeft("T2"));
    bases.push_back(terminalLeft("H"));
    bases.push_back(Bytes{0, 0xFF, 0, 0, 0});
    PayloadCorrupter corrupter(SEED + 1, bases);

    // One valid call in a hundred, each its own; the rest broken.
    std::set<Bytes> valid;
    const DPID senders[] = {5, 6, 9};
    std::mt19937 pick(SEED + 2);
    for (int i = 0; i < CASES; ++i) {
        if (i % 100 == 99) {
            Bytes call = encodeCall("@HOST_TERMINAL", "T2", "valid " + std::to_string(i));
            valid.insert(call);
            fake().deliver(5, call);
        } else {
            Bytes broken = corrupter.next();
            fake().deliver(senders[pick() % 3], broken);
        }
    }
    CTrace::setDumpOff();
    size_t validSeen = 0;
    size_t delivered = 0;
    {
        TraceCapture swallowed;
        ULONGLONG start = GetTickCount64();
        while (validSeen < valid.size() && GetTickCount64() - start < TIME_LIMIT_MS) {
            Bytes block = host->receive();
            ASSERT_FALSE(block.empty());
            ++delivered;
            if (valid.count(block) != 0)
                ++validSeen;
        }
    }
    CTrace::setDumpOn();
    EXPECT_EQ(valid.size(), validSeen);
    EXPECT_EQ(0u, fake().inboxSize());
    EXPECT_EQ(std::vector<std::string>{}, log_.events.entries());
    for (const FakeDirectPlay::Sent& sent : fake().sent()) {
        ASSERT_FALSE(sent.data.empty());
        ASSERT_NE(0, sent.data[0]) << "control data of a peer was forwarded";
        ASSERT_TRUE(sent.to == 0 || sent.to == 5 || sent.to == 6) << sent.to;
    }
    printf("%d payloads, %zu delivered, %zu forwarded\n", CASES, delivered, fake().sentCount());
}
