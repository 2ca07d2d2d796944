// TComm's network back end (tcp:// and rfc2217://). See comm_net.h.
//
// One file for both platforms: BSD sockets on POSIX, Winsock on Windows,
// behind the few helpers at the top.
//
// Threads: with a notifier on POSIX the event loop watches the socket and
// OnReady runs there. Otherwise (Windows, or no notifier) a watch thread
// waits for the socket (in slices of kSliceMs, so that Close is seen) and
// either posts OnReady to the notifier, one report at a time, or runs it
// itself. The receive buffer, the Telnet parser and the socket's writes are
// guarded by one mutex, never held while a handler runs.
#include "link/comm_net.h"

#include "link/comm.h"
#include "link/trace.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace tern::link {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWriteTimeoutMs = 1000;        // a write that makes no progress, as on the serial port
constexpr int kSliceMs = 50;                 // the watch thread looks for Close this often
constexpr std::size_t kRxMax = 64 * 1024;    // beyond this, reading waits for the handler
constexpr int kBreakMs = 500;
constexpr int kReconnectWaitMs = 100;        // a reconnect's wait for the server in one Open

// ---- sockets on both platforms ---------------------------------------------------

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
int LastError() { return ::WSAGetLastError(); }
void CloseSocket(Socket s) { ::closesocket(s); }
bool WouldBlock(int e) { return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS; }
constexpr int kSendFlags = 0;
enum : int {
    kRefused = WSAECONNREFUSED,
    kNetUnreach = WSAENETUNREACH,
    kHostUnreach = WSAEHOSTUNREACH,
    kTimedOut = WSAETIMEDOUT,
    kReset = WSAECONNRESET,
    kAborted = WSAECONNABORTED,
    kPipe = WSAESHUTDOWN,
};
void StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
bool SetNonBlocking(Socket s) {
    u_long one = 1;
    return ::ioctlsocket(s, FIONBIO, &one) == 0;
}
/// 1 ready, 0 timeout, -1 error. A failed connect shows in the except set on Windows.
int WaitSocket(Socket s, bool write, int timeoutMs) {
    fd_set r, w, x;
    FD_ZERO(&r);
    FD_ZERO(&w);
    FD_ZERO(&x);
    FD_SET(s, write ? &w : &r);
    FD_SET(s, &x);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int n = ::select(0, &r, &w, &x, &tv);
    return n > 0 ? 1 : n == 0 ? 0 : -1;
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
int LastError() { return errno; }
void CloseSocket(Socket s) { ::close(s); }
bool WouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINPROGRESS; }
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer is an error, not SIGPIPE
enum : int {
    kRefused = ECONNREFUSED,
    kNetUnreach = ENETUNREACH,
    kHostUnreach = EHOSTUNREACH,
    kTimedOut = ETIMEDOUT,
    kReset = ECONNRESET,
    kAborted = ECONNABORTED,
    kPipe = EPIPE,
};
void StartSockets() {}
bool SetNonBlocking(Socket s) {
    const int flags = ::fcntl(s, F_GETFL);
    return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0 && ::fcntl(s, F_SETFD, FD_CLOEXEC) == 0;
}
int WaitSocket(Socket s, bool write, int timeoutMs) {
    for (;;) {
        pollfd p{s, static_cast<short>(write ? POLLOUT : POLLIN), 0};
        const int n = ::poll(&p, 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        return n > 0 ? 1 : n == 0 ? 0 : -1;
    }
}
#endif

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

/// What went wrong with a connection, in words for the user.
std::string LossReason(int e) {
    switch (e) {
        case kReset:
        case kAborted:
        case kPipe: return "the connection was reset";
        case kTimedOut: return "the server stopped answering (timed out)";
        case kNetUnreach:
        case kHostUnreach: return "the server became unreachable";
        default: return "network error " + std::to_string(e);
    }
}

/// Keep-alive and a bound on unacknowledged data: a server that vanishes
/// without a word (cable, power) is found within about 15 s.
void KeepAlive(Socket s) {
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
#if defined(TCP_KEEPIDLE) && defined(TCP_KEEPINTVL) && defined(TCP_KEEPCNT)
    const int idle = 5, interval = 2, count = 4;
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, reinterpret_cast<const char*>(&idle), sizeof idle);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, reinterpret_cast<const char*>(&interval), sizeof interval);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char*>(&count), sizeof count);
#endif
#ifdef TCP_USER_TIMEOUT
    const unsigned userTimeout = 15000;
    ::setsockopt(s, IPPROTO_TCP, TCP_USER_TIMEOUT, reinterpret_cast<const char*>(&userTimeout), sizeof userTimeout);
#endif
}

// ---- Telnet and the COM-port option ----------------------------------------------

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr std::uint8_t OPT_BINARY = 0, OPT_SGA = 3, OPT_COMPORT = 44;
// Client to server; the server answers with the code + 100.
constexpr std::uint8_t SET_BAUDRATE = 1, SET_DATASIZE = 2, SET_PARITY = 3, SET_STOPSIZE = 4, SET_CONTROL = 5,
                       NOTIFY_MODEMSTATE = 7, SET_MODEMSTATE_MASK = 11, PURGE_DATA = 12;
constexpr std::uint8_t kControlNoFlow = 1, kControlXonXoff = 2, kControlRtsCts = 3, kControlBreakOn = 5,
                       kControlBreakOff = 6, kControlDtrOn = 8;
constexpr std::uint8_t kModemDsr = 0x20, kModemDeltaDsr = 0x02;
constexpr std::uint8_t kPurgeBoth = 3;

std::vector<std::uint8_t> ComPortCommand(std::uint8_t code, const std::vector<std::uint8_t>& value) {
    std::vector<std::uint8_t> out{IAC, SB, OPT_COMPORT, code};
    for (std::uint8_t b : value) {
        out.push_back(b);
        if (b == IAC) out.push_back(IAC);
    }
    out.push_back(IAC);
    out.push_back(SE);
    return out;
}

std::string SettingName(std::uint8_t code, const std::vector<std::uint8_t>& value) {
    const unsigned v = value.empty() ? 0 : value.back();
    switch (code) {
        case SET_BAUDRATE: {
            std::uint32_t rate = 0;
            for (std::uint8_t b : value) rate = (rate << 8) | b;
            return std::to_string(rate) + " baud";
        }
        case SET_DATASIZE: return std::to_string(v) + " data bits";
        case SET_PARITY: return v == 1 ? "no parity" : v == 2 ? "odd parity" : v == 3 ? "even parity" : "mark/space parity";
        case SET_STOPSIZE: return v == 2 ? "2 stop bits" : v == 3 ? "1.5 stop bits" : "1 stop bit";
        case SET_CONTROL:
            return v == kControlRtsCts    ? "RTS/CTS flow control"
                   : v == kControlXonXoff ? "XON/XOFF flow control"
                   : v == kControlDtrOn   ? "DTR on"
                                          : "no flow control";
        default: return "setting " + std::to_string(code);
    }
}

}  // namespace

// ---- names -----------------------------------------------------------------------

namespace {
bool StartsWithNoCase(const std::string& s, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    if (s.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}
}  // namespace

bool IsNetworkPortName(const std::string& name) {
    return StartsWithNoCase(name, "tcp://") || StartsWithNoCase(name, "rfc2217://");
}

std::optional<NetAddress> ParseNetworkPort(const std::string& name, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<NetAddress> {
        if (error) *error = why;
        return std::nullopt;
    };
    NetAddress a;
    std::string rest;
    if (StartsWithNoCase(name, "tcp://")) {
        a.kind = NetKind::Tcp;
        rest = name.substr(6);
    } else if (StartsWithNoCase(name, "rfc2217://")) {
        a.kind = NetKind::Rfc2217;
        rest = name.substr(10);
    } else {
        return fail("not a network port: write rfc2217://HOST:PORT or tcp://HOST:PORT");
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::size_t colon;
    if (!rest.empty() && rest.front() == '[') {  // [IPv6]:port
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return fail("write an IPv6 address in brackets, then the port: rfc2217://[fe80::1]:4001");
        a.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) return fail("the TCP port is missing: write HOST:PORT, e.g. cams-7:4001");
        a.host = rest.substr(0, colon);
        if (a.host.find(':') != std::string::npos)
            return fail("write an IPv6 address in brackets, then the port: rfc2217://[fe80::1]:4001");
    }
    a.port = rest.substr(colon + 1);
    if (a.host.empty()) return fail("the host is missing: write HOST:PORT, e.g. cams-7:4001");
    const bool digits = !a.port.empty() && a.port.size() <= 5 &&
                        std::all_of(a.port.begin(), a.port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoul(a.port) == 0 || std::stoul(a.port) > 65535)
        return fail("the TCP port must be a number from 1 to 65535, not \"" + a.port + "\"");
    return a;
}

std::string PortFileName(const std::string& port) {
    std::string s = port;
    const std::size_t scheme = s.find("://");
    if (scheme != std::string::npos) {
        s.replace(scheme, 3, "-");
    } else if (const std::size_t slash = s.find_last_of("/\\"); slash != std::string::npos) {
        s = s.substr(slash + 1);  // a device path: its last part
    }
    std::string out;
    for (char c : s) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '_' || c == '.';
        const char put = keep ? c : '-';
        if (put == '-' && !out.empty() && out.back() == '-') continue;
        out.push_back(put);
    }
    while (!out.empty() && (out.back() == '-' || out.back() == '.')) out.pop_back();
    if (out.empty() || out == "." || out == "..") out = "port";
    return out;
}

// ---- the connection --------------------------------------------------------------

namespace {
/// What a report posted to the event thread needs after the port has moved on.
struct Token {
    std::atomic<bool> alive{true};
    std::mutex m;
    std::condition_variable cv;
    bool posted = false;
};
}  // namespace

struct NetComm::State {
    explicit State(TComm& o) : owner(o) {}
    TComm& owner;
    std::string name;
    NetAddress addr;

    mutable std::mutex mu;  // everything below but the atomics
    Socket sock = kNoSocket;
    // After a loss, reconnecting to the same port does not hold the event
    // thread for the whole bound: a connect that has not completed within
    // kReconnectWaitMs is kept here and taken up by the next Open.
    bool retrying = false;
    Socket pending = kNoSocket;
    Clock::time_point pendingSince{};
    std::atomic<bool> open{false};
    std::atomic<bool> lost{false};
    std::vector<std::uint8_t> rx;
    std::size_t head = 0;
    bool paused = false;  // rx full: the socket is not read until the handler makes room

    // Telnet parser
    enum class T { Data, Iac, Verb, Sb, SbIac } t = T::Data;
    std::uint8_t verb = 0;
    std::vector<std::uint8_t> sb;
    std::set<std::pair<std::uint8_t, std::uint8_t>> answered;  // (verb, option) we answered already
    bool comPortAnswered = false;
    bool comPortAgreed = false;
    std::deque<std::pair<std::uint8_t, std::vector<std::uint8_t>>> expected;  // settings awaiting the server's word
    std::atomic<int> modem{-1};  // the last modem state the server sent; -1: none yet
    // The server confirmed DTR: it works the modem lines, and its DSR counts.
    // One that cannot (a pseudo-terminal behind it) reports them all off.
    std::atomic<bool> modemLines{false};
    std::vector<std::string> notices;  // to say once the mutex is released
    std::set<std::string> said;        // said already (for the life of the port)

    // Watching
    PortNotifier* notifier = nullptr;
    bool watched = false;
    std::thread thread;
    std::thread retired;  // stopped from its own handler, joined later
    std::atomic<bool> stop{false};
    std::shared_ptr<Token> token;

    std::size_t Buffered() const { return rx.size() - head; }
    bool OnOwnThread() const { return thread.joinable() && thread.get_id() == std::this_thread::get_id(); }

    void Say(const std::string& text) {
        if (said.insert(text).second) notices.push_back(text);
    }

    void SendRaw(const std::uint8_t* p, std::size_t n) {
        while (n > 0) {
            const auto w = ::send(sock, reinterpret_cast<const char*>(p), static_cast<int>(n), kSendFlags);
            if (w > 0) {
                p += w;
                n -= static_cast<std::size_t>(w);
                continue;
            }
            const int e = LastError();
            if (w < 0 && e == EINTR) continue;
            if (w < 0 && !WouldBlock(e)) throw ECommReadWriteError(static_cast<std::uint32_t>(e), LossReason(e));
            const int r = WaitSocket(sock, true, kWriteTimeoutMs);
            if (r == 0)
                throw ECommReadWriteError(kTimedOut, "write timed out (" + std::to_string(kWriteTimeoutMs) +
                                                         " ms without progress)");
            if (r < 0) throw ECommReadWriteError(static_cast<std::uint32_t>(LastError()), "network error");
        }
    }
    void SendRaw(const std::vector<std::uint8_t>& v) { SendRaw(v.data(), v.size()); }

    void Answer(std::uint8_t v, std::uint8_t option) {
        if (!answered.insert({v, option}).second) return;  // no negotiation loops
        const std::uint8_t out[3] = {IAC, v, option};
        SendRaw(out, 3);
    }

    /// The server's side of a negotiation.
    void Negotiation(std::uint8_t v, std::uint8_t option) {
        if (option == OPT_COMPORT && (v == DO || v == DONT)) {
            comPortAnswered = true;
            comPortAgreed = v == DO;
            return;
        }
        if (option == OPT_BINARY) {
            if (v == WONT || v == DONT) Say("the terminal server refuses binary mode: bytes may be altered on the way");
            return;  // asked for by us: its yes needs no answer
        }
        if (v == DO) Answer(WONT, option);
        if (v == WILL) Answer(option == OPT_SGA ? DO : DONT, option);
    }

    void ComPortAnswer() {
        if (sb.size() < 2 || sb[0] != OPT_COMPORT) return;
        const std::uint8_t code = sb[1];
        const std::vector<std::uint8_t> value(sb.begin() + 2, sb.end());
        if (code == NOTIFY_MODEMSTATE + 100) {
            if (!value.empty()) modem.store(value.back());
            return;
        }
        if (code < 100) return;
        const std::uint8_t asked = static_cast<std::uint8_t>(code - 100);
        auto it = std::find_if(expected.begin(), expected.end(),
                               [&](const auto& e) { return e.first == asked && e.second == value; });
        if (it == expected.end())
            it = std::find_if(expected.begin(), expected.end(), [&](const auto& e) { return e.first == asked; });
        if (it == expected.end()) return;
        // The server answers the settings in the order they were sent: one
        // passed over is one it did not confirm.
        for (auto e = expected.begin(); e != it; ++e) NotConfirmed(e->first, e->second, false);
        if (value != it->second) NotConfirmed(it->first, it->second, true);
        else if (asked == SET_CONTROL && value.size() == 1 && value[0] == kControlDtrOn) modemLines.store(true);
        expected.erase(expected.begin(), it + 1);
    }

    void NotConfirmed(std::uint8_t code, const std::vector<std::uint8_t>& value, bool otherValue) {
        Say("the terminal server " + std::string(otherValue ? "answered otherwise to " : "did not confirm ") +
            SettingName(code, value) + "; the connection goes on" +
            (code == SET_CONTROL && value.size() == 1 && value[0] == kControlDtrOn
                 ? " (a line without modem lines cannot; DSR is taken as on)"
                 : ""));
    }

    /// Separates the camera's bytes from the Telnet commands.
    void Parse(const std::uint8_t* p, std::size_t n) {
        if (addr.kind == NetKind::Tcp) {
            rx.insert(rx.end(), p, p + n);
            return;
        }
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t b = p[i];
            switch (t) {
                case T::Data:
                    if (b == IAC) t = T::Iac;
                    else rx.push_back(b);
                    break;
                case T::Iac:
                    if (b == IAC) {
                        rx.push_back(IAC);  // an escaped data byte 0xFF
                        t = T::Data;
                    } else if (b == SB) {
                        sb.clear();
                        t = T::Sb;
                    } else if (b >= WILL && b <= DONT) {
                        verb = b;
                        t = T::Verb;
                    } else {
                        t = T::Data;  // NOP, GA and the like
                    }
                    break;
                case T::Verb:
                    Negotiation(verb, b);
                    t = T::Data;
                    break;
                case T::Sb:
                    if (b == IAC) t = T::SbIac;
                    else sb.push_back(b);
                    break;
                case T::SbIac:
                    if (b == IAC) {
                        sb.push_back(IAC);
                        t = T::Sb;
                    } else {  // SE (or a broken one): the subnegotiation is over
                        ComPortAnswer();
                        t = T::Data;
                    }
                    break;
            }
        }
    }
};

NetComm::NetComm(TComm& owner) : s_(std::make_unique<State>(owner)) { StartSockets(); }

NetComm::~NetComm() {
    Close();
    if (s_->retired.joinable() && s_->retired.get_id() != std::this_thread::get_id()) s_->retired.join();
}

bool NetComm::IsOpen() const { return s_->open.load(); }

bool NetComm::DsrState() const {
    if (!s_->open.load() || s_->lost.load()) return false;
    const int m = s_->modem.load();
    return !s_->modemLines.load() || m < 0 || (m & kModemDsr) != 0;
}

namespace {
[[noreturn]] void OpenFailed(const std::string& name, const std::string& reason, const std::string& check, int e) {
    throw ECommOpenError(-1, reason + "\n" + check, name, e);
}
}  // namespace

void NetComm::Open(const std::string& name) {
    State& s = *s_;
    if (s.open.load()) return;
    const auto self = std::this_thread::get_id();
    if (s.retired.joinable() && s.retired.get_id() != self) s.retired.join();
    if (s.thread.joinable()) s.thread.join();  // ended by the loss (Close retires its own)
    std::string error;
    const auto parsed = ParseNetworkPort(name, &error);
    if (!parsed) throw ECommOpenError(-1, error, name, 0);
    const bool retrying = s.retrying && name == s.name;
    s.name = name;
    s.addr = *parsed;
    const std::string& host = s.addr.host;
    const std::string& port = s.addr.port;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kConnectMs);

    // An address is used as it is, without the resolver; a name is looked up.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0) {
        hints.ai_flags = AI_NUMERICSERV;
        list = nullptr;
        if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0 || !list)
            OpenFailed(name, "the host name " + host + " was not found",
                       "check its spelling and the network's name service, or give the terminal server's IP address",
                       0);
    }

    Socket sock = kNoSocket;
    int lastError = kTimedOut;
    auto stillConnecting = [&] {
        ::freeaddrinfo(list);
        throw ECommOpenError(-1, "connecting to " + host + " (port " + port + ")", name, 0);
    };
    if (s.pending != kNoSocket && !retrying) {  // another port's, or no longer retried
        CloseSocket(s.pending);
        s.pending = kNoSocket;
    }
    if (s.pending != kNoSocket) {  // a reconnect begun on an earlier tick
        const Socket c = s.pending;
        s.pending = kNoSocket;
        int e = kTimedOut;
        const int r = WaitSocket(c, true, 0);
        if (r != 0) {
            int soError = 0;
            socklen_t len = sizeof soError;
            ::getsockopt(c, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
            e = soError;
        }
        if (r != 0 && e == 0) {
            sock = c;
        } else if (r == 0 && Clock::now() - s.pendingSince < std::chrono::milliseconds(kConnectMs)) {
            s.pending = c;
            stillConnecting();
        } else {
            CloseSocket(c);  // refused or no answer: a fresh attempt
        }
    }
    for (addrinfo* ai = list; ai && sock == kNoSocket; ai = ai->ai_next) {
        Socket c = ::socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (c == kNoSocket) {
            lastError = LastError();
            continue;
        }
        if (!SetNonBlocking(c)) {
            lastError = LastError();
            CloseSocket(c);
            continue;
        }
        int e = 0;
        if (::connect(c, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) != 0) {
            e = LastError();
            if (WouldBlock(e)) {
                const int r = WaitSocket(c, true, retrying ? std::min(kReconnectWaitMs, MsLeft(deadline))
                                                                  : MsLeft(deadline));
                if (r == 0 && retrying) {
                    s.pending = c;
                    s.pendingSince = Clock::now();
                    stillConnecting();
                }
                if (r == 0) {
                    e = kTimedOut;
                } else {
                    int soError = 0;
                    socklen_t len = sizeof soError;
                    ::getsockopt(c, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
                    e = soError;
                }
            }
        }
        if (e == 0) {
            sock = c;
        } else {
            lastError = e;
            CloseSocket(c);
        }
    }
    ::freeaddrinfo(list);
    if (sock == kNoSocket) {
        switch (lastError) {
            case kRefused:
                OpenFailed(name, host + " refused the connection on port " + port,
                           "check that the terminal server is on and that its port " + port +
                               " is set up for the camera's line",
                           lastError);
            case kNetUnreach:
            case kHostUnreach:
                OpenFailed(name, host + " is unreachable",
                           "check the network cable, the address and that this computer has a route to " + host,
                           lastError);
            case kTimedOut:
                OpenFailed(name,
                           host + " did not answer within " + std::to_string(kConnectMs / 1000) + " s (timed out)",
                           "check the address, that the terminal server is on and that no firewall holds back port " +
                               port,
                           lastError);
            default:
                OpenFailed(name, "cannot connect to " + host + ": network error " + std::to_string(lastError),
                           "check the address and the network", lastError);
        }
    }
    KeepAlive(sock);

    std::unique_lock lk(s.mu);
    s.sock = sock;
    s.rx.clear();
    s.head = 0;
    s.paused = false;
    s.t = State::T::Data;
    s.answered.clear();
    s.expected.clear();
    s.comPortAnswered = s.comPortAgreed = false;
    s.modem.store(-1);
    s.modemLines.store(false);
    s.lost.store(false);
    s.stop.store(false);
    auto abandon = [&](const std::string& reason, const std::string& check, int e) {
        CloseSocket(s.sock);
        s.sock = kNoSocket;
        lk.unlock();
        OpenFailed(name, reason, check, e);
    };
    try {
        if (s.addr.kind == NetKind::Rfc2217) {
            s.SendRaw({IAC, WILL, OPT_BINARY, IAC, DO, OPT_BINARY, IAC, WILL, OPT_COMPORT});
            // The settings follow the server's yes to the option (within the bound).
            while (!s.comPortAnswered) {
                const int left = MsLeft(deadline);
                if (left == 0 || WaitSocket(s.sock, false, left) <= 0) break;
                std::uint8_t buf[512];
                const auto n = ::recv(s.sock, reinterpret_cast<char*>(buf), sizeof buf, 0);
                if (n == 0)
                    abandon("the terminal server closed the connection at once",
                            "check that no other program is connected to port " + port +
                                " and that the port is set up for the camera's line",
                            0);
                if (n < 0) {
                    const int e = LastError();
                    if (WouldBlock(e) || e == EINTR) continue;
                    abandon(LossReason(e), "check the terminal server", e);
                }
                s.Parse(buf, static_cast<std::size_t>(n));
            }
            if (!s.comPortAnswered)
                s.Say("the terminal server at " + host + ":" + port +
                      " did not answer the COM-port option: the line runs as the server has set it");
            else if (!s.comPortAgreed)
                s.Say("the terminal server at " + host + ":" + port +
                      " does not offer COM-port control (it may be a raw TCP port: try tcp://" + host + ":" + port +
                      "); the line runs as the server has set it");
            if (s.comPortAgreed) {
                TComm& o = s.owner;
                const auto rate = static_cast<std::uint32_t>(o.EffectiveBaudRate());
                const std::uint8_t bits = static_cast<std::uint8_t>(static_cast<int>(o.ByteSize()) + 4);
                const std::uint8_t parity = static_cast<std::uint8_t>(static_cast<int>(o.ParityBits()) + 1);
                const std::uint8_t stop = o.StopBits() == TCommStopBits::csb1 ? 1 : o.StopBits() == TCommStopBits::csb2 ? 2 : 3;
                const TCommFlowControls fc = o.FlowControls();
                const std::uint8_t flow = (fc & cfcRtsCts) ? kControlRtsCts : (fc & cfcXonXoff) ? kControlXonXoff : kControlNoFlow;
                const std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> settings = {
                    {SET_CONTROL, {kControlDtrOn}},  // first: the others' answers tell if it was passed over
                    {SET_BAUDRATE,
                     {static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
                      static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)}},
                    {SET_DATASIZE, {bits}},
                    {SET_PARITY, {parity}},
                    {SET_STOPSIZE, {stop}},
                    {SET_CONTROL, {flow}},
                };
                std::vector<std::uint8_t> out;
                for (const auto& [code, value] : settings) {
                    const auto cmd = ComPortCommand(code, value);
                    out.insert(out.end(), cmd.begin(), cmd.end());
                    s.expected.emplace_back(code, value);
                }
                for (const auto& cmd : {ComPortCommand(SET_MODEMSTATE_MASK, {kModemDsr | kModemDeltaDsr}),
                                        ComPortCommand(PURGE_DATA, {kPurgeBoth})})
                    out.insert(out.end(), cmd.begin(), cmd.end());
                s.SendRaw(out);
            }
            s.rx.clear();  // anything before the purge is stale
        }
    } catch (const ECommReadWriteError& e) {
        abandon(e.Reason, "check the terminal server", static_cast<int>(e.ErrorCode));
    }

    s.notifier = s.owner.Notifier();
    s.token = std::make_shared<Token>();
    s.retrying = false;
    s.open.store(true);
#ifndef _WIN32
    if (s.notifier) {
        const int fd = s.sock;
        lk.unlock();
        s.notifier->WatchDescriptor(fd, [this] { OnReady(); });
        s.watched = true;
        Notices();
        return;
    }
#endif
    s.thread = std::thread([this, token = s.token] { WatchLoop(token); });
    lk.unlock();
    Notices();
}

void NetComm::Notices() {
    std::vector<std::string> notices;
    {
        std::lock_guard lk(s_->mu);
        notices.swap(s_->notices);
    }
    TComm& o = s_->owner;
    for (const std::string& text : notices) {
        if (!o.OnCommNotice) {
            std::cerr << s_->name << ": " << text << "\n";
            continue;
        }
        try {
            o.OnCommNotice(o, text);
        } catch (...) {
        }
    }
}

void NetComm::WatchLoop(std::shared_ptr<void> tokenPtr) {
    State& s = *s_;
    auto token = std::static_pointer_cast<Token>(tokenPtr);
    Socket sock;
    {
        std::lock_guard lk(s.mu);
        sock = s.sock;
    }
    while (!s.stop.load() && !s.lost.load()) {
        {
            std::unique_lock lk(s.mu);
            if (s.paused) {  // the handler has not taken what waits: wait for room
                lk.unlock();
                std::unique_lock tk(token->m);
                token->cv.wait_for(tk, std::chrono::milliseconds(kSliceMs));
                continue;
            }
        }
        const int r = WaitSocket(sock, false, kSliceMs);
        if (s.stop.load()) break;
        if (r == 0) continue;
        if (!s.notifier) {
            OnReady();
            continue;
        }
        // One report at a time on the event thread; it reads all that waits.
        {
            std::lock_guard tk(token->m);
            token->posted = true;
        }
        s.notifier->Post([this, token] {
            if (token->alive.load()) OnReady();
            std::lock_guard tk(token->m);
            token->posted = false;
            token->cv.notify_all();
        });
        std::unique_lock tk(token->m);
        while (token->posted && !s.stop.load()) token->cv.wait_for(tk, std::chrono::milliseconds(kSliceMs));
    }
}

void NetComm::OnReady() {
    State& s = *s_;
    std::string lostReason;
    std::size_t buffered = 0;
    {
        std::lock_guard lk(s.mu);
        if (s.sock == kNoSocket || s.lost.load()) return;
        if (s.head > 0) {
            s.rx.erase(s.rx.begin(), s.rx.begin() + static_cast<std::ptrdiff_t>(s.head));
            s.head = 0;
        }
        if (s.rx.size() < kRxMax) {
            std::uint8_t buf[8192];
            const auto n = ::recv(s.sock, reinterpret_cast<char*>(buf), sizeof buf, 0);
#ifdef TCP_QUICKACK
            // Acknowledged at once: a server that holds its next bytes until
            // the last are acknowledged (Nagle) would otherwise wait for the
            // delayed acknowledgement on every reply, byte by byte.
            const int quick = 1;
            ::setsockopt(s.sock, IPPROTO_TCP, TCP_QUICKACK, &quick, sizeof quick);
#endif
            if (n > 0) {
                try {
                    s.Parse(buf, static_cast<std::size_t>(n));
                } catch (const ECommReadWriteError& e) {  // a Telnet answer could not go out
                    lostReason = e.Reason;
                }
            } else if (n == 0) {
                lostReason = "the terminal server closed the connection";
            } else if (const int e = LastError(); !WouldBlock(e) && e != EINTR) {
                lostReason = LossReason(e);
            }
        }
        buffered = s.Buffered();
        if (s.rx.size() >= kRxMax && lostReason.empty()) {
            s.paused = true;
            if (s.watched) {
                s.notifier->UnwatchDescriptor(static_cast<int>(s.sock));
                s.watched = false;
            }
        }
    }
    Notices();
    if (!lostReason.empty()) return Lost(lostReason);
    if (buffered == 0) return;
    TComm& o = s.owner;
    try {
        o.NotifyReceive(static_cast<std::uint32_t>(buffered));
    } catch (const std::exception& e) {
        if (o.OnCommError) o.OnCommError(o, e.what());
    }
}

void NetComm::Lost(const std::string& reason) {
    State& s = *s_;
    {
        std::lock_guard lk(s.mu);
        if (s.lost.exchange(true)) return;
        s.retrying = true;
        if (s.watched) {
            s.notifier->UnwatchDescriptor(static_cast<int>(s.sock));
            s.watched = false;
        }
    }
    TComm& o = s.owner;
    o.lost_.store(true);
    if (!o.OnCommLost) return;
    try {
        o.OnCommLost(o, reason);
    } catch (const std::exception& e) {
        if (o.OnCommError) o.OnCommError(o, e.what());
    }
}

void NetComm::Close() {
    State& s = *s_;
    s.stop.store(true);
    if (s.token) {
        s.token->alive.store(false);
        s.token->cv.notify_all();
    }
    if (s.thread.joinable()) {
        if (s.OnOwnThread()) {
            if (s.retired.joinable()) s.retired.join();  // an older one, ended
            s.retired = std::move(s.thread);
        } else {
            s.thread.join();
        }
    }
    std::lock_guard lk(s.mu);
    if (s.watched) {
        s.notifier->UnwatchDescriptor(static_cast<int>(s.sock));
        s.watched = false;
    }
    if (s.sock != kNoSocket) CloseSocket(s.sock);
    s.sock = kNoSocket;
    if (s.pending != kNoSocket) CloseSocket(s.pending);
    s.pending = kNoSocket;
    s.rx.clear();
    s.head = 0;
    s.open.store(false);
}

void NetComm::Write(const void* buffer, std::uint32_t count) {
    State& s = *s_;
    std::lock_guard lk(s.mu);
    if (s.sock == kNoSocket) throw ECommError(kMsgNotStarted);
    if (count > s.owner.OutQueueSize()) throw ECommError(kMsgTooLong);
    if (s.lost.load()) throw ECommReadWriteError(kReset, "the connection to the terminal server is lost");
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    if (LineTrace* t = s.owner.trace_.load()) t->Record(TraceDirection::ToCamera, p, count);
    if (s.addr.kind == NetKind::Tcp) return s.SendRaw(p, count);
    std::vector<std::uint8_t> out;
    out.reserve(count + 8);
    for (std::uint32_t i = 0; i < count; ++i) {
        out.push_back(p[i]);
        if (p[i] == IAC) out.push_back(IAC);  // a data byte 0xFF is sent twice
    }
    s.SendRaw(out);
}

std::uint32_t NetComm::Read(void* buffer, std::uint32_t count) {
    State& s = *s_;
    bool rewatch = false;
    std::uint32_t take = 0;
    {
        std::lock_guard lk(s.mu);
        if (s.sock == kNoSocket) throw ECommError(kMsgNotStarted);
        take = static_cast<std::uint32_t>(std::min<std::size_t>(count, s.Buffered()));
        if (take == 0) return 0;
        const std::uint8_t* from = s.rx.data() + s.head;
        std::memcpy(buffer, from, take);
        s.head += take;
        s.owner.rxTaken_.fetch_add(take);
        if (LineTrace* t = s.owner.trace_.load()) t->Record(TraceDirection::FromCamera, from, take);
        if (s.paused && s.Buffered() < kRxMax / 2 && !s.lost.load()) {
            s.paused = false;
            rewatch = s.notifier && !s.thread.joinable();
        }
    }
    if (rewatch) {
        std::lock_guard lk(s.mu);
        s.notifier->WatchDescriptor(static_cast<int>(s.sock), [this] { OnReady(); });
        s.watched = true;
    } else if (s.token) {
        s.token->cv.notify_all();
    }
    return take;
}

std::uint32_t NetComm::BytesWaiting() const {
    std::lock_guard lk(s_->mu);
    return static_cast<std::uint32_t>(s_->Buffered());
}

void NetComm::SendBreak() {
    State& s = *s_;
    {
        std::lock_guard lk(s.mu);
        if (s.sock == kNoSocket) throw ECommError(kMsgNotStarted);
        if (s.addr.kind == NetKind::Tcp) return;
        s.SendRaw(ComPortCommand(SET_CONTROL, {kControlBreakOn}));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kBreakMs));
    std::lock_guard lk(s.mu);
    if (s.sock != kNoSocket) s.SendRaw(ComPortCommand(SET_CONTROL, {kControlBreakOff}));
}

}  // namespace tern::link
