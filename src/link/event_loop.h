// A small event loop for the programs and tests that run the link without a
// window: posted work and millisecond timers, all run on the thread that
// calls Run / RunUntil.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace tern::link {

class EventLoop {
public:
    using Clock = std::chrono::steady_clock;

    /// Queues fn to run on the loop's thread. Safe from any thread.
    void Post(std::function<void()> fn);
    /// A periodic timer, disabled until EnableTimer(id, true). Returns its id.
    int AddTimer(int intervalMs, std::function<void()> onTick);
    /// Enabling a stopped timer starts its interval from now; enabling a
    /// running one changes nothing, as with a window timer.
    void EnableTimer(int id, bool on);
    bool TimerEnabled(int id) const;
    /// When an enabled timer ticks next.
    Clock::time_point TimerDue(int id) const;

    /// Runs until Quit.
    void Run();
    /// Runs until pred() holds or the deadline passes; returns pred().
    bool RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds deadline);
    void Quit();
    bool QuitRequested() const;

private:
    struct Timer {
        int intervalMs;
        std::function<void()> onTick;
        bool enabled = false;
        Clock::time_point due{};
    };
    /// Runs what is due; waits at most until `limit` for more.
    void Step(Clock::time_point limit);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> posted_;
    std::vector<Timer> timers_;
    bool quit_ = false;
};

}  // namespace tern::link
