#include <gtest/gtest.h>

#include <vector>

#include "platform/timers.h"

namespace corvane {
namespace {

TEST(VirtualTimers, PeriodsRestartsAndKills)
{
    CVirtualTimers t;
    std::vector<std::pair<int64_t, unsigned>> fired;
    int owner = 0;
    t.Attach(&owner, [&](unsigned id) { fired.push_back({t.Now(), id}); });

    t.SetTimer(&owner, 1, 600);
    t.SetTimer(&owner, 2, 1000);
    t.Advance(500);
    t.SetTimer(&owner, 2, 1000);  // setting a running id restarts it: now due at 1500
    t.Advance(1300);
    EXPECT_EQ(fired, (std::vector<std::pair<int64_t, unsigned>>{{600, 1}, {1200, 1}, {1500, 2}, {1800, 1}}));

    t.KillTimer(&owner, 1);
    fired.clear();
    t.Advance(1000);
    EXPECT_EQ(fired, (std::vector<std::pair<int64_t, unsigned>>{{2500, 2}}));

    // Timers falling due at one moment fire in the order they were set, not by id.
    t.KillTimer(&owner, 2);
    fired.clear();
    t.SetTimer(&owner, 9, 1000);
    t.Advance(400);
    t.SetTimer(&owner, 4, 600);
    t.SetTimer(&owner, 6, 600);
    t.Advance(600);
    EXPECT_EQ(fired, (std::vector<std::pair<int64_t, unsigned>>{{3800, 9}, {3800, 4}, {3800, 6}}));
}

TEST(VirtualTimers, HandlerMayKillAndSetTimers)
{
    CVirtualTimers t;
    int owner = 0;
    std::vector<unsigned> fired;
    t.Attach(&owner, [&](unsigned id) {
        fired.push_back(id);
        t.KillTimer(&owner, id);
        if (id < 1003)
            t.SetTimer(&owner, id + 1, 300);
    });
    t.SetTimer(&owner, 1001, 300);
    t.Advance(10000);
    EXPECT_EQ(fired, (std::vector<unsigned>{1001, 1002, 1003}));
    EXPECT_EQ(t.Now(), 10000);
}

TEST(VirtualTimers, DetachKillsTheOwnersTimers)
{
    CVirtualTimers t;
    int count = 0;
    {
        CTimerOwner owner(t, [&](unsigned) { ++count; });
        owner.SetTimer(5, 100);
        t.Advance(100);
    }
    t.Advance(1000);
    EXPECT_EQ(count, 1);
}

}  // namespace
}  // namespace corvane
