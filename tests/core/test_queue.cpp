// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "guard/Guard.h"

#include <ranges>

// Unknown programs met while the alert asks wait their turn; each is stopped
// (safe_level 1) only once it is shown, and one that ended is never shown.
TEST(Queue, UnknownProgramsWaitTheirTurnAndEndedOnesAreSkipped)
{
    TwoPrograms<Guard> g;
    g.start("", "", {{"safe_level", "1"}});
    g.t.processes.add(12, "c", g.exe("c"));
    int shown = 0;
    int told = -1;
    QObject::connect(&g.m, &Guard::alertWanted, [&shown] { ++shown; });
    QObject::connect(&g.m, &Guard::queueChanged, [&told](int count) { told = count; });
    using Pids = std::vector<qint64>;
    const auto state = [&] {
        const auto queued = g.m.queued | std::views::transform(&Guard::Queued::pid);
        return std::tuple(shown, g.m.appPid, Pids(queued.begin(), queued.end()), told, g.t.processes.killed);
    };

    g.m.time_Timer();
    EXPECT_EQ(state(), std::tuple(1, 10, Pids{11, 12}, 2, Pids{10}));
    // A tick while the alert asks adds what started since.
    g.t.processes.add(13, "d", g.exe("d"));
    g.m.time_Timer();
    EXPECT_EQ(state(), std::tuple(1, 10, Pids{11, 12, 13}, 3, Pids{10}));
    g.m.decide(Guard::Decision::Allow);
    EXPECT_EQ(state(), std::tuple(2, 11, Pids{12, 13}, 2, Pids{10, 11}));
    g.t.processes.find(12)->alive = false;
    g.m.decide(Guard::Decision::Deny);
    EXPECT_EQ(state(), std::tuple(3, 13, Pids{}, 0, Pids{10, 11, 13}));
    g.m.decide(Guard::Decision::Close);
    EXPECT_FALSE(g.m.alertUp);
    EXPECT_EQ(shown, 3);
}
