// The host search reads other terminals' records: corrupted descriptors and record lists, each
// descriptor read in place where an inaccessible page begins right after its last byte.
#include "CDirector.h"
#include "GuardedBlock.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

const size_t CASES = 100000;
// Far beyond what the cases need; a loop that does not end fails instead of hanging.
const DWORD TIME_LIMIT_MS = 120000;

// Seeded: every run tries the same cases.
class Random {
public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    uint32_t next() { return static_cast<uint32_t>(engine_()); }
    uint32_t below(uint32_t limit) { return next() % limit; }

private:
    std::mt19937 engine_;
};

const char* const PIECES[] = {"TIME=", "SESSION=", " ", "  ", "=", "0", "9", "20260101120000000", "\x01", "\xFF", "",
                              "11111111-2222-3333-4444-555555555555"};

// Mostly a valid head with a mangled rest, sometimes anything at all.
std::string corrupted(Random& random)
{
    std::string text;
    if (random.below(10) < 8) {
        text = "TIME=";
        for (int i = 0; i < 17; ++i)
            text += static_cast<char>('0' + random.below(10));
    }
    int parts = static_cast<int>(random.below(6));
    for (int i = 0; i < parts; ++i)
        text += PIECES[random.below(sizeof(PIECES) / sizeof(PIECES[0]))];
    int changes = static_cast<int>(random.below(4));
    for (int i = 0; i < changes && !text.empty(); ++i)
        text[random.below(static_cast<uint32_t>(text.size()))] = static_cast<char>(random.next());
    if (random.below(4) == 0)
        text.resize(random.below(static_cast<uint32_t>(text.size() + 1)));
    return text;
}

bool isSuffix(const std::string& part, std::string_view whole)
{
    return part.size() <= whole.size() && whole.substr(whole.size() - part.size()) == part;
}

TEST(DirectorRobustness, CorruptedDescriptorsAndRecordListsAreReadInsideTheirBytes)
{
    Random random(20261211);
    DWORD start = GetTickCount();
    for (size_t i = 0; i < CASES; ++i) {
        std::string text = corrupted(random);
        {
            GuardedBlock guarded(std::vector<unsigned char>(text.begin(), text.end()));
            std::string_view inPlace(reinterpret_cast<const char*>(guarded.data()), guarded.size());
            std::string name = CDirector::parseSessionName(inPlace);
            std::string time = CDirector::parseSessionTime(inPlace);
            ASSERT_TRUE(isSuffix(name, inPlace)) << i;
            ASSERT_NE(std::string_view::npos, inPlace.find(time)) << i;
            ASSERT_EQ(std::string::npos, time.find(' ')) << i;
        }

        std::vector<CTerminalInfo> infos(random.below(6));
        for (auto& info : infos) {
            info.setOptionalData(random.below(5) == 0 ? std::string() : corrupted(random));
            if (random.below(4) != 0)
                info.setValid();
        }
        CTerminalInfo chosen;
        int index = CDirector::findNewestTerminalInfo(infos, chosen);
        if (infos.empty()) {
            ASSERT_EQ(-1, index) << i;
            continue;
        }
        ASSERT_GE(index, 0) << i;
        ASSERT_LT(index, static_cast<int>(infos.size())) << i;
        ASSERT_EQ(infos[index].getOptionalData(), chosen.getOptionalData()) << i;
        // No valid record has a greater stamp than the one chosen.
        for (const auto& info : infos) {
            if (info.isValid()) {
                ASSERT_TRUE(chosen.isValid()) << i;
                ASSERT_LE(CDirector::parseSessionTime(info.getOptionalData()),
                          CDirector::parseSessionTime(chosen.getOptionalData()))
                    << i;
            }
        }
        ASSERT_LT(GetTickCount() - start, TIME_LIMIT_MS) << "case " << i;
    }
}

} // namespace
