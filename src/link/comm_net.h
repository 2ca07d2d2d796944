// A camera behind a terminal server: TComm's network back end. A port named
// "tcp://HOST:PORT" is the raw byte stream of a TCP connection;
// "rfc2217://HOST:PORT" is Telnet with the COM-port control option, through
// which the line is set to 9600 8N1 with RTS/CTS, DTR raised, the server's
// buffers purged, and DSR followed from the server's modem-state notices.
//
// TComm picks this back end by the device name at Open; the rest of the
// program sees the same port. Reading and the reports run on the port's
// notifier like the serial port: on POSIX the event loop watches the socket
// (no thread); on Windows, and without a notifier, a watch thread waits for
// the socket and posts (or reports) as the serial back end does.
//
// Opening resolves the name (an address is taken as it is; a name goes
// through the system's resolver, bounded by its own timeout), connects
// without blocking and waits at most kConnectMs for the server; for
// rfc2217 it then waits, within the same bound, for the server's answer to
// the option before it sends the line settings. After a loss, reconnecting
// to the same port waits at most 100 ms in one Open: a
// connect still under way is kept and taken up by the next Open (the link
// tries once a tick), so a silent server does not hold the event thread.
// A connection the server
// closes or resets, or one on which the server stops answering (keep-alive
// and unacknowledged data, about 15 s), is the device gone: OnCommLost once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tern::link {

class TComm;

inline constexpr int kConnectMs = 3000;  ///< the longest wait for the server at Open

enum class NetKind { Tcp, Rfc2217 };

struct NetAddress {
    NetKind kind = NetKind::Tcp;
    std::string host;  ///< without the brackets of an IPv6 address
    std::string port;  ///< the TCP port, digits
};

/// True for a name of this back end ("tcp://" or "rfc2217://", any case),
/// well-formed or not: a malformed one fails at Open with what is wrong.
bool IsNetworkPortName(const std::string& name);

/// "rfc2217://cams-7:4001", "tcp://10.0.0.5:4001", "rfc2217://[fe80::1]:4001".
/// nullopt with `error` set when the name is not such a port.
std::optional<NetAddress> ParseNetworkPort(const std::string& name, std::string* error = nullptr);

/// The port's name as part of a file name: "/dev/ttyUSB0" -> "ttyUSB0",
/// "rfc2217://cams-7:4001" -> "rfc2217-cams-7-4001", "COM3" stays. Only
/// letters, digits, '-', '_' and '.' remain; never empty, never "." or "..".
std::string PortFileName(const std::string& port);

/// The connection behind a TComm whose device is a network port.
class NetComm {
public:
    explicit NetComm(TComm& owner);
    ~NetComm();
    NetComm(const NetComm&) = delete;
    NetComm& operator=(const NetComm&) = delete;

    /// Connects; throws ECommOpenError naming the host, the reason and what
    /// to check. On the notifier's thread when there is one.
    void Open(const std::string& name);
    void Close();
    bool IsOpen() const;
    /// rfc2217: the server's last modem-state notice once it has confirmed
    /// DTR (before, and when it cannot work the modem lines, on); tcp: on.
    /// Off once lost.
    bool DsrState() const;
    void Write(const void* buffer, std::uint32_t count);
    std::uint32_t Read(void* buffer, std::uint32_t count);
    std::uint32_t BytesWaiting() const;
    /// rfc2217: the line in break for 500 ms; tcp: nothing to do.
    void SendBreak();

private:
    struct State;
    /// The socket has something to report (the event thread, or the watch thread).
    void OnReady();
    void WatchLoop(std::shared_ptr<void> token);
    /// The connection went away: reported once.
    void Lost(const std::string& reason);
    /// Says the notices gathered under the lock, each once, through OnCommError.
    void Notices();
    std::unique_ptr<State> s_;
};

}  // namespace tern::link
