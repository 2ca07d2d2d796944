// A small event loop for the programs and tests that run the link without a
// window: posted work, millisecond timers and (on POSIX) watched descriptors,
// all run on the thread that calls Run / RunUntil. It is the console's
// PortNotifier: a TComm given it reports on this thread, with no thread of
// its own.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "link/comm.h"

namespace tern::link {

class EventLoop : public PortNotifier {
public:
    using Clock = std::chrono::steady_clock;

    EventLoop();
    ~EventLoop() override;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    /// Queues fn to run on the loop's thread. Safe from any thread.
    void Post(std::function<void()> fn) override;
    /// POSIX: onReady runs on the loop's thread while `fd` is readable or hung
    /// up. On the loop's thread only. Windows has no descriptors to watch
    /// (its port posts instead) and throws std::logic_error.
    void WatchDescriptor(int fd, std::function<void()> onReady) override;
    void UnwatchDescriptor(int fd) override;
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
    struct Watch {
        int fd;
        std::function<void()> onReady;
    };
    struct Waiter;  // the platform's way of sleeping: epoll + eventfd, or a condition

    /// Runs what is due; waits at most until `limit` for more.
    void Step(Clock::time_point limit);
    /// Sleeps until work is posted, Quit, a watched descriptor is ready or
    /// `until`; runs the handlers of the ready descriptors. Without mutex_.
    void Wait(Clock::time_point until);
    /// Ends a Wait in progress (mutex_ held, sleeping_ set).
    void Wake();

    mutable std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
    std::vector<Timer> timers_;
    bool quit_ = false;
    bool sleeping_ = false;      // a Wait is in progress: Post must wake it
    std::vector<Watch> watches_;  // the loop's thread only
    std::unique_ptr<Waiter> waiter_;
};

}  // namespace tern::link
