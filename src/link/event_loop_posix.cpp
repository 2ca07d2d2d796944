// The console loop's wait on POSIX: one ppoll on the watched descriptors, an
// eventfd that Post and Quit signal while the loop sleeps, and a timerfd set
// to the next due time. The timerfd is set again only when that time comes
// earlier, so a wait between two ticks arms no timer of its own: an exchange
// costs the same system calls as a plain blocking client's.
#include "link/event_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tern::link {

struct EventLoop::Waiter {
    int wakeFd = -1;
    int timerFd = -1;
    Clock::time_point armed = Clock::time_point::max();  // what timerFd is set to; max: unset
    std::vector<pollfd> fds;  // reused from wait to wait
};

EventLoop::EventLoop() : waiter_(std::make_unique<Waiter>()) {
    waiter_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (waiter_->wakeFd < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    // Without it, each wait has a time-out of its own (as before).
    waiter_->timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
}

EventLoop::~EventLoop() {
    ::close(waiter_->wakeFd);
    if (waiter_->timerFd >= 0) ::close(waiter_->timerFd);
}

void EventLoop::WatchDescriptor(int fd, std::function<void()> onReady) {
    UnwatchDescriptor(fd);
    watches_.push_back(Watch{fd, std::move(onReady)});
}

void EventLoop::UnwatchDescriptor(int fd) {
    std::erase_if(watches_, [fd](const Watch& w) { return w.fd == fd; });
}

void EventLoop::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(waiter_->wakeFd, &one, sizeof one);
}

void EventLoop::Wait(Clock::time_point until) {
    // Taken out while the handlers run: one that runs the loop itself gets its own.
    std::vector<pollfd> fds = std::move(waiter_->fds);
    struct GiveBack {
        std::vector<pollfd>& from;
        std::vector<pollfd>& to;
        ~GiveBack() { to = std::move(from); }
    } giveBack{fds, waiter_->fds};
    fds.clear();
    fds.push_back({waiter_->wakeFd, POLLIN, 0});
    const int timerFd = waiter_->timerFd;
    fds.push_back({timerFd, POLLIN, 0});  // a negative descriptor is skipped
    constexpr std::size_t kFirstWatch = 2;
    for (const Watch& w : watches_) fds.push_back({w.fd, POLLIN, 0});
    const auto now = Clock::now();
    const auto left = std::max(until - now, Clock::duration::zero());
    timespec ts{};
    const timespec* timeout = &ts;
    if (left == Clock::duration::zero()) {
        // due already: look without waiting
    } else if (timerFd >= 0) {
        // steady_clock is CLOCK_MONOTONIC: its time points are the timer's own.
        // Moved earlier at once; a later time waits until the set one has
        // passed (one early wake-up, after which the loop looks again), so
        // a timer that starts and stops with each exchange, or a deadline
        // that moves on with each call, costs no system call of its own.
        if (until < waiter_->armed) {
            const auto at = std::chrono::duration_cast<std::chrono::nanoseconds>(until.time_since_epoch());
            itimerspec due{};
            due.it_value.tv_sec = static_cast<time_t>(at.count() / 1'000'000'000);
            due.it_value.tv_nsec = static_cast<long>(at.count() % 1'000'000'000);
            if (::timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &due, nullptr) == 0) waiter_->armed = until;
        }
        if (waiter_->armed <= until) timeout = nullptr;
    }
    if (timeout != nullptr && left != Clock::duration::zero()) {
        const auto s = std::chrono::duration_cast<std::chrono::seconds>(left);
        ts = {static_cast<time_t>(s.count()),
              static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - s).count())};
    }
    const int r = ::ppoll(fds.data(), fds.size(), timeout, nullptr);
    if (r <= 0) return;  // timeout, or EINTR: the caller looks again
    if (fds[0].revents) {
        std::uint64_t count;
        [[maybe_unused]] const ssize_t n = ::read(waiter_->wakeFd, &count, sizeof count);
    }
    if (fds[1].revents) {
        // Expired: set afresh by the next wait that needs it.
        std::uint64_t count;
        [[maybe_unused]] const ssize_t n = ::read(timerFd, &count, sizeof count);
        waiter_->armed = Clock::time_point::max();
    }
    for (std::size_t i = kFirstWatch; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        // An earlier handler may have unwatched (or closed) this descriptor;
        // the handler is copied since it may unwatch itself while it runs.
        const auto w = std::find_if(watches_.begin(), watches_.end(), [&](const Watch& x) { return x.fd == fds[i].fd; });
        if (w == watches_.end()) continue;
        const std::function<void()> onReady = w->onReady;
        onReady();
    }
}

}  // namespace tern::link
