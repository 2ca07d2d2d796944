// The console loop's wait on Windows: a condition that Post and Quit signal.
// The port's watch thread posts what it has seen; there are no descriptors.
#include "link/event_loop.h"

#include <condition_variable>
#include <stdexcept>

namespace tern::link {

struct EventLoop::Waiter {
    std::condition_variable wake;
};

EventLoop::EventLoop() : waiter_(std::make_unique<Waiter>()) {}

EventLoop::~EventLoop() = default;

void EventLoop::WatchDescriptor(int, std::function<void()>) {
    throw std::logic_error("there are no descriptors to watch on Windows: the port posts what it receives");
}

void EventLoop::UnwatchDescriptor(int) {}

void EventLoop::Wake() { waiter_->wake.notify_one(); }

void EventLoop::Wait(Clock::time_point until) {
    std::unique_lock lock(mutex_);
    waiter_->wake.wait_until(lock, until, [&] { return quit_ || !posted_.empty(); });
}

}  // namespace tern::link
