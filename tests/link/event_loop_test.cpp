// The console's event loop keeps a window timer's rules, which the link's
// reply watch and reload rely on in both programs.
#include <gtest/gtest.h>

#include <chrono>

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

}  // namespace
}  // namespace tern::link
