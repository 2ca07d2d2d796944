// The event loop's platform-free part; the wait itself is in
// event_loop_posix.cpp or event_loop_win32.cpp.
#include "link/event_loop.h"

#include <algorithm>

namespace tern::link {

void EventLoop::Post(std::function<void()> fn) {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(fn));
    if (sleeping_) Wake();
}

int EventLoop::AddTimer(int intervalMs, std::function<void()> onTick) {
    std::lock_guard lock(mutex_);
    timers_.push_back(Timer{intervalMs, std::move(onTick)});
    return static_cast<int>(timers_.size()) - 1;
}

void EventLoop::EnableTimer(int id, bool on) {
    std::lock_guard lock(mutex_);
    Timer& t = timers_.at(static_cast<std::size_t>(id));
    // As a window timer: enabling one that already runs keeps its interval going.
    if (on && !t.enabled) t.due = Clock::now() + std::chrono::milliseconds(t.intervalMs);
    t.enabled = on;
}

bool EventLoop::TimerEnabled(int id) const {
    std::lock_guard lock(mutex_);
    return timers_.at(static_cast<std::size_t>(id)).enabled;
}

EventLoop::Clock::time_point EventLoop::TimerDue(int id) const {
    std::lock_guard lock(mutex_);
    return timers_.at(static_cast<std::size_t>(id)).due;
}

void EventLoop::Quit() {
    std::lock_guard lock(mutex_);
    quit_ = true;
    if (sleeping_) Wake();
}

bool EventLoop::QuitRequested() const {
    std::lock_guard lock(mutex_);
    return quit_;
}

void EventLoop::Step(Clock::time_point limit) {
    bool wait = false;
    Clock::time_point next = limit;
    {
        std::lock_guard lock(mutex_);
        if (quit_) return;
        for (const Timer& t : timers_) {
            if (t.enabled) next = std::min(next, t.due);
        }
        wait = posted_.empty();
        sleeping_ = wait;
    }
    // Posted work first; the descriptors are looked at once it is done.
    if (wait) Wait(next);
    std::function<void()> work;
    {
        std::lock_guard lock(mutex_);
        sleeping_ = false;
        if (quit_) return;
        if (!posted_.empty()) {
            work = std::move(posted_.front());
            posted_.pop_front();
        } else {
            const auto now = Clock::now();
            for (Timer& t : timers_) {
                if (t.enabled && t.due <= now) {
                    t.due = now + std::chrono::milliseconds(t.intervalMs);
                    work = t.onTick;
                    break;
                }
            }
        }
    }
    if (work) work();
}

void EventLoop::Run() {
    while (!QuitRequested()) Step(Clock::now() + std::chrono::hours(1));
}

bool EventLoop::RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    while (!pred()) {
        if (QuitRequested() || Clock::now() >= end) return pred();
        Step(end);
    }
    return true;
}

}  // namespace tern::link
