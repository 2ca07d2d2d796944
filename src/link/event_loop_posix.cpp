// The console loop's wait on POSIX: one epoll set holding the watched
// descriptors, an eventfd that Post and Quit signal while the loop sleeps,
// and a timerfd set to the next due time. The descriptors stay registered
// from wait to wait, so a wait is one epoll_wait; the timerfd is set again
// only when that time comes earlier, so a wait between two ticks arms no
// timer of its own: an exchange costs the system calls of a plain blocking
// client's and one wait more for each read.
#include "link/event_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tern::link {

namespace {

void Register(int epollFd, int fd) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) {
        throw std::runtime_error(std::string("epoll_ctl: ") + std::strerror(errno));
    }
}

}  // namespace

struct EventLoop::Waiter {
    int epollFd = -1;
    int wakeFd = -1;
    int timerFd = -1;
    Clock::time_point armed = Clock::time_point::max();  // what timerFd is set to; max: unset
};

EventLoop::EventLoop() : waiter_(std::make_unique<Waiter>()) {
    waiter_->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (waiter_->epollFd < 0) throw std::runtime_error(std::string("epoll_create1: ") + std::strerror(errno));
    waiter_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (waiter_->wakeFd < 0) {
        ::close(waiter_->epollFd);
        throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    }
    Register(waiter_->epollFd, waiter_->wakeFd);
    // Without it, each wait has a time-out of its own.
    waiter_->timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (waiter_->timerFd >= 0) Register(waiter_->epollFd, waiter_->timerFd);
}

EventLoop::~EventLoop() {
    ::close(waiter_->wakeFd);
    if (waiter_->timerFd >= 0) ::close(waiter_->timerFd);
    ::close(waiter_->epollFd);
}

void EventLoop::WatchDescriptor(int fd, std::function<void()> onReady) {
    UnwatchDescriptor(fd);
    Register(waiter_->epollFd, fd);
    watches_.push_back(Watch{fd, std::move(onReady)});
}

void EventLoop::UnwatchDescriptor(int fd) {
    // Before the descriptor is closed (the ports unwatch first): a closed
    // one whose file lives on elsewhere would go on reporting.
    if (std::erase_if(watches_, [fd](const Watch& w) { return w.fd == fd; }) > 0) {
        ::epoll_ctl(waiter_->epollFd, EPOLL_CTL_DEL, fd, nullptr);
    }
}

void EventLoop::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(waiter_->wakeFd, &one, sizeof one);
}

void EventLoop::Wait(Clock::time_point until) {
    const int timerFd = waiter_->timerFd;
    const auto now = Clock::now();
    const auto left = std::max(until - now, Clock::duration::zero());
    int timeoutMs = 0;  // due already: look without waiting
    if (left != Clock::duration::zero()) {
        // Rounded up: a wait never ends before its time.
        timeoutMs = static_cast<int>(std::min<Clock::rep>(
            std::chrono::ceil<std::chrono::milliseconds>(left).count(), 24 * 3600 * 1000));
    }
    if (timeoutMs != 0 && timerFd >= 0) {
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
        if (waiter_->armed <= until) timeoutMs = -1;  // the timerfd ends the wait in time
    }
    epoll_event events[8];
    const int r = ::epoll_wait(waiter_->epollFd, events, 8, timeoutMs);
    if (r <= 0) return;  // timeout, or EINTR: the caller looks again
    for (int i = 0; i < r; ++i) {
        const int fd = events[i].data.fd;
        if (fd == waiter_->wakeFd) {
            std::uint64_t count;
            [[maybe_unused]] const ssize_t n = ::read(waiter_->wakeFd, &count, sizeof count);
        } else if (fd == timerFd) {
            std::uint64_t count;
            [[maybe_unused]] const ssize_t n = ::read(timerFd, &count, sizeof count);
            waiter_->armed = Clock::time_point::max();
        }
    }
    for (int i = 0; i < r; ++i) {
        const int fd = events[i].data.fd;
        if (fd == waiter_->wakeFd || fd == timerFd) continue;
        // An earlier handler may have unwatched (or closed) this descriptor;
        // the handler is copied since it may unwatch itself while it runs.
        const auto w = std::find_if(watches_.begin(), watches_.end(), [&](const Watch& x) { return x.fd == fd; });
        if (w == watches_.end()) continue;
        const std::function<void()> onReady = w->onReady;
        onReady();
    }
}

}  // namespace tern::link
