// The console loop's wait on POSIX: one ppoll on the watched descriptors and
// an eventfd that Post and Quit signal while the loop sleeps.
#include "link/event_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace tern::link {

struct EventLoop::Waiter {
    int wakeFd = -1;
    std::vector<pollfd> fds;  // reused from wait to wait
};

EventLoop::EventLoop() : waiter_(std::make_unique<Waiter>()) {
    waiter_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (waiter_->wakeFd < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
}

EventLoop::~EventLoop() { ::close(waiter_->wakeFd); }

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
    for (const Watch& w : watches_) fds.push_back({w.fd, POLLIN, 0});
    const auto left = std::max(until - Clock::now(), Clock::duration::zero());
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(left);
    const timespec ts{static_cast<time_t>(s.count()),
                      static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - s).count())};
    const int r = ::ppoll(fds.data(), fds.size(), &ts, nullptr);
    if (r <= 0) return;  // timeout, or EINTR: the caller looks again
    if (fds[0].revents) {
        std::uint64_t count;
        [[maybe_unused]] const ssize_t n = ::read(waiter_->wakeFd, &count, sizeof count);
    }
    for (std::size_t i = 1; i < fds.size(); ++i) {
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
