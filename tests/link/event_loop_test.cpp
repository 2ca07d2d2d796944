// The console's event loop keeps a window timer's rules, which the link's
// reply watch and reload rely on in both programs.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <utility>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "link/event_loop.h"

namespace tern::link {
namespace {

TEST(EventLoop, EnablingARunningTimerKeepsItsIntervalGoing) {
    EventLoop loop;
    const int id = loop.AddTimer(1500, [] {});
    loop.EnableTimer(id, true);
    const auto due = loop.TimerDue(id);
    // Enabled again while it runs: the tick stays where it was.
    const auto later = EventLoop::Clock::now() + std::chrono::milliseconds(5);
    while (EventLoop::Clock::now() < later) {
    }
    loop.EnableTimer(id, true);
    EXPECT_EQ(loop.TimerDue(id), due);
    // Stopped and enabled again: a fresh interval from now.
    loop.EnableTimer(id, false);
    EXPECT_FALSE(loop.TimerEnabled(id));
    loop.EnableTimer(id, true);
    EXPECT_GT(loop.TimerDue(id), due);
}

#ifndef _WIN32
// The loop sleeps until the next due tick; a timer switched for another
// while it sleeps (here from a descriptor's handler) must tick at its own
// time: never before it, and not as late as the one it replaced.
TEST(EventLoop, ATimerSwitchedWhileTheLoopSleepsTicksAtItsOwnTime) {
    using namespace std::chrono_literals;
    for (const auto& [first, second] : {std::pair{60000ms, 20ms}, std::pair{20ms, 200ms}}) {
        EventLoop loop;
        int firstTicks = 0;
        std::optional<EventLoop::Clock::time_point> secondTick;
        const int a = loop.AddTimer(static_cast<int>(first.count()), [&] { ++firstTicks; });
        const int b = loop.AddTimer(static_cast<int>(second.count()), [&] { secondTick = EventLoop::Clock::now(); });
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const char byte = 1;
        ASSERT_EQ(::write(fds[1], &byte, 1), 1);  // ready at once: the loop has armed its wait for `first`
        EventLoop::Clock::time_point due{};
        loop.WatchDescriptor(fds[0], [&] {
            char c;
            ASSERT_EQ(::read(fds[0], &c, 1), 1);
            loop.UnwatchDescriptor(fds[0]);
            loop.EnableTimer(a, false);
            loop.EnableTimer(b, true);
            due = loop.TimerDue(b);
        });
        loop.EnableTimer(a, true);
        // Slept through to the loop's own deadline, the tick would come 20 s late.
        EXPECT_TRUE(loop.RunUntil([&] { return secondTick.has_value(); }, 20s)) << second.count();
        EXPECT_GE(secondTick.value_or(due), due) << second.count();
        EXPECT_LT(secondTick.value_or(due) - due, 10s) << second.count();
        EXPECT_EQ(firstTicks, 0);
        ::close(fds[0]);
        ::close(fds[1]);
    }
}
#endif

}  // namespace
}  // namespace tern::link
