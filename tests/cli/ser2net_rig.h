// A real terminal server for the tests and the bench: one ser2net process,
// started in the foreground with a configuration written here, listening on
// 127.0.0.1 only, each of its ports connected to a virtual camera's
// pseudo-terminal. It runs in a process group of its own under `timeout`,
// and is ended (the whole group) by Stop or the destructor.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tern::test {

/// A TCP port on 127.0.0.1 that nothing listens on at this moment.
inline int FreeTcpPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("no free TCP port");
    ::close(s);
    return ntohs(a.sin_port);
}

/// True while something listens on 127.0.0.1:port (read from /proc/net/tcp).
inline bool Listening(int port) {
    std::ifstream in("/proc/net/tcp");
    std::string line;
    char want[32];
    std::snprintf(want, sizeof want, "0100007F:%04X", port);
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string slot, local, remote, state;
        f >> slot >> local >> remote >> state;
        if (local == want && state == "0A") return true;
    }
    return false;
}

/// A server that answers no connection: it listens on 127.0.0.1:port with
/// a backlog of one, filled by a connection of its own that it never
/// accepts, so the system drops every further attempt without a word (as a
/// host that has gone silent).
class SilentServer {
public:
    explicit SilentServer(int port = 0) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        port_ = ntohs(a.sin_port);
        filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("cannot fill the backlog");
    }
    ~SilentServer() {
        ::close(filler_);
        ::close(listener_);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    int Port() const { return port_; }

private:
    int listener_ = -1;
    int filler_ = -1;
    int port_ = 0;
};

class Ser2net {
public:
    struct Port {
        std::string device;  ///< the pseudo-terminal ser2net opens
        bool rfc2217 = true;  ///< telnet(rfc2217) accepter, else plain tcp
        int tcpPort = 0;
        std::string Url() const {
            return std::string(rfc2217 ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(tcpPort);
        }
    };

    /// Writes the configuration for `ports` (each given a free TCP port) in `dir` and starts.
    Ser2net(const std::string& dir, std::vector<Port> ports)
        : ports_(std::move(ports)), config_(dir + "/ser2net.yaml"), pidFile_(dir + "/ser2net.pid"), logFile_(dir + "/ser2net.log") {
        std::ofstream y(config_);
        y << "%YAML 1.1\n---\n";
        int n = 0;
        for (Port& p : ports_) {
            p.tcpPort = FreeTcpPort();
            y << "connection: &cam" << n++ << "\n"
              << "  accepter: " << (p.rfc2217 ? "telnet(rfc2217),tcp(nodelay)," : "tcp(nodelay),") << "127.0.0.1," << p.tcpPort << "\n"
              << "  connector: serialdev," << p.device << ",9600n81,local\n"
              << "  options:\n    chardelay: false\n";  // each byte on at once, as a camera's site is set up
        }
        y.close();
        Start();
    }
    ~Ser2net() { Stop(); }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    const Port& operator[](std::size_t i) const { return ports_[i]; }
    std::size_t size() const { return ports_.size(); }

    /// Starts ser2net (again) and waits until every port listens; throws when it does not within 10 s.
    void Start() {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            // Its remarks (mDNS, the modem lines a pseudo-terminal lacks) go to a file beside the configuration.
            if (const int log = ::open(logFile_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600); log >= 0) {
                ::dup2(log, 1);
                ::dup2(log, 2);
            }

            // -n: in the foreground; -u: no lock files on the devices; bounded by timeout.
            ::execlp("timeout", "timeout", "300", "ser2net", "-n", "-u", "-c", config_.c_str(), "-P", pidFile_.c_str(),
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid_ < 0) throw std::runtime_error("fork");
        ::setpgid(pid_, pid_);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (const Port& p : ports_) {
            while (!Listening(p.tcpPort)) {
                if (std::chrono::steady_clock::now() > deadline) {
                    Stop();
                    throw std::runtime_error("ser2net did not start listening on port " + std::to_string(p.tcpPort));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));  // polling a condition
            }
        }
    }
    /// Ends ser2net (its whole group) and waits for it; its ports close.
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        ::kill(-pid_, SIGKILL);  // anything of the group left behind
        pid_ = -1;
    }

private:
    std::vector<Port> ports_;
    std::string config_;
    std::string pidFile_;
    std::string logFile_;
    pid_t pid_ = -1;
};

}  // namespace tern::test
