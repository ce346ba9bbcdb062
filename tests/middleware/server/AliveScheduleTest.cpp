// When alives go out: the schedule over a few hundred ticks, with the root counter and resumes
// given per tick.
#include "CQuarnAliveSchedule.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <vector>

namespace {

struct ScheduleCase {
    const char* name;
    // The root counter at a tick (ticks count from 1).
    std::function<DWORD(int)> counter;
    std::set<int> resumes;
    std::vector<int> sending;
};

std::vector<int> sendingTicks(const ScheduleCase& c, int ticks)
{
    CQuarnAliveSchedule schedule;
    std::vector<int> sending;
    for (int tick = 1; tick <= ticks; ++tick) {
        if (c.resumes.count(tick) != 0)
            schedule.Resume();
        if (schedule.Tick(c.counter(tick)))
            sending.push_back(tick);
    }
    return sending;
}

TEST(QuarnAliveSchedule, SendsInBurstsAndThenOnceEvery62Ticks)
{
    const ScheduleCase cases[] = {
        {"steady from creation", [](int) { return 0u; }, {}, {1, 2, 3, 4, 66, 128, 190}},
        {"a change", [](int tick) { return tick >= 10 ? 1u : 0u; }, {}, {1, 2, 3, 4, 10, 11, 12, 13, 14, 76, 138, 200}},
        {"two changes", [](int tick) { return tick >= 100 ? 2u : tick >= 10 ? 1u : 0u; }, {},
         {1, 2, 3, 4, 10, 11, 12, 13, 14, 76, 100, 101, 102, 103, 104, 166}},
        {"a resume", [](int) { return 0u; }, {30}, {1, 2, 3, 4, 30, 31, 32, 33, 95, 157}},
        {"a resume with a change", [](int tick) { return tick >= 30 ? 7u : 0u; }, {30},
         {1, 2, 3, 4, 30, 31, 32, 33, 34, 96, 158}},
        {"a counter that is not 0 at the first tick", [](int) { return 3u; }, {}, {1, 2, 3, 4, 5, 67, 129, 191}},
    };
    for (const ScheduleCase& c : cases)
        EXPECT_EQ(sendingTicks(c, 200), c.sending) << c.name;
}

} // namespace
