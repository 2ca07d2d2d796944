// Pseudo-terminals for the serial port tests: the test holds the master side,
// TComm opens the slave through its path.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace tern::test {

/// One pty pair. The slave is left closed and in the kernel's default
/// (cooked) settings; only the master is open.
class Pty {
public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0) throw std::runtime_error(std::string("posix_openpt: ") + std::strerror(errno));
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error(std::string("grantpt/unlockpt: ") + std::strerror(errno));
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0)
            throw std::runtime_error(std::string("ptsname_r: ") + std::strerror(errno));
        slave_ = name;
    }
    ~Pty() { CloseMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int Master() const { return master_; }
    const std::string& SlavePath() const { return slave_; }
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    /// Writes all of data to the master.
    void Write(const std::vector<std::uint8_t>& data) const { WriteAll(master_, data.data(), data.size()); }

    /// Reads from the master until n bytes came or timeoutMs passed.
    std::vector<std::uint8_t> Read(std::size_t n, int timeoutMs = 3000) const {
        return ReadFor(master_, n, timeoutMs);
    }

    static void WriteAll(int fd, const void* data, std::size_t n) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        while (n > 0) {
            const ssize_t w = ::write(fd, p, n);
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && errno == EAGAIN) {
                pollfd pf{fd, POLLOUT, 0};
                ::poll(&pf, 1, 100);
                continue;
            }
            if (w <= 0) throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
            p += w;
            n -= static_cast<std::size_t>(w);
        }
    }

    static std::vector<std::uint8_t> ReadFor(int fd, std::size_t n, int timeoutMs) {
        std::vector<std::uint8_t> out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            pollfd pf{fd, POLLIN, 0};
            const int r = ::poll(&pf, 1, static_cast<int>(left));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            if (!(pf.revents & POLLIN)) {
                // POLLHUP alone: the slave is closed at the moment; wait a little.
                ::usleep(5000);
                continue;
            }
            std::uint8_t buf[4096];
            const ssize_t got = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got < 0 && errno == EIO) {  // slave not open (yet / any more)
                ::usleep(5000);
                continue;
            }
            if (got <= 0) break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

private:
    int master_ = -1;
    std::string slave_;
};

/// Threads of this process (entries of /proc/self/task).
inline int ThreadCount() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

/// Polls pred every few milliseconds until it holds or timeoutMs passed.
template <class Pred>
bool WaitFor(Pred pred, int timeoutMs = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        ::usleep(2000);
    }
    return true;
}

}  // namespace tern::test
