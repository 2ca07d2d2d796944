// TComm: the serial port component. One port, opened exclusively, in raw
// mode, whose received bytes are reported through OnCommReceive.
//
// Two back ends behind this one header, chosen by CMake: comm_posix.cpp
// (termios) and comm_win32.cpp (the Win32 communications API); and a third
// chosen by the device's name, comm_net.cpp, for a camera behind a terminal
// server ("rfc2217://HOST:PORT", "tcp://HOST:PORT"). Each maps
// port n to a device (PortDevices): on Linux COM1 is /dev/ttyS0 and COM2
// /dev/ttyS1, on Windows \\.\COM1 and \\.\COM2, unless the program gives it
// another device for that port.
//
// Where the handlers run:
// - With a notifier (SetNotifier, before Open), on the notifier's event
//   thread. On POSIX the event loop watches the port's descriptor itself: no
//   thread and no hop; on readiness the port reads what is waiting in one
//   call and reports it whole. On Windows a watch thread waits for the port's
//   events and posts the report to the event thread.
// - Without one, on the port's own watch thread (TCommWatch), as the tests
//   and small tools that have no event loop use it.
//
// Reported are received bytes (OnCommReceive) and a vanished device
// (OnCommLost, once per opening), not OnCommEvent/OnCommTransmit. Close ends
// the notifications before the device is released, so no handler runs after
// it returns; it may be called from a handler. On the watch thread, Close
// does not wait for itself: the thread is joined by the next Open, Close or
// the destructor. Destroying the TComm from a handler is not supported.
// Write raises ECommReadWriteError when the device takes no byte for 1000 ms.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tern::link {

// ---- exceptions -----------------------------------------------------------

class ECommError : public std::runtime_error {
public:
    explicit ECommError(const std::string& message) : std::runtime_error(message) {}
};

/// "オープンエラー ErrorCode = %d". The operating system's reason is kept beside
/// the message (not folded into it) so the window can show it on a line of its own.
class ECommOpenError : public ECommError {
public:
    ECommOpenError(std::int32_t code, std::string reason, std::string device = {}, int error = 0);
    std::int32_t ErrorCode;
    std::string Reason;  // e.g. "Permission denied", "in use"; may be empty
    std::string Device;  // the device that was opened; empty when none was reached
    int Errno = 0;       // the system's error number (EBUSY for a port in use), 0 if none
};

/// "入出力エラー ErrorCode = %d".
class ECommReadWriteError : public ECommError {
public:
    ECommReadWriteError(std::uint32_t code, std::string reason);
    std::uint32_t ErrorCode;
    std::string Reason;
};

inline constexpr const char* kMsgNotStarted = "通信が開始されていない。";
inline constexpr const char* kMsgTooLong = "送信データ長が長すぎる。";

// ---- port names -----------------------------------------------------------

/// The system's own device of port n: /dev/ttyS(n-1) on Linux, \\.\COMn on
/// Windows; empty for 0 (there is no COM0).
std::string SystemPortDevice(unsigned port);

/// Port n as the user names it in help texts: /dev/ttyS(n-1) on Linux, COMn on Windows.
#ifdef _WIN32
inline std::string DefaultPortName(unsigned port) { return "COM" + std::to_string(port); }
#else
inline std::string DefaultPortName(unsigned port) { return "/dev/ttyS" + std::to_string(port - 1); }
#endif

/// The devices behind COM1 and COM2 ("--port DEV", "--port2 DEV").
struct PortDevices {
    std::string com1 = SystemPortDevice(1);
    std::string com2 = SystemPortDevice(2);  ///< empty: there is no COM2 (its attempt goes to COM1's device)
    /// The device of port n; the system's own beyond COM2.
    std::string For(unsigned port) const;
};

// ---- the port seen by the link ------------------------------------------

/// What the link control needs of a port. TComm is the real one; tests hand
/// in a stand-in for what a pseudo-terminal cannot do (DSR off, refused writes).
class CommPort {
public:
    virtual ~CommPort() = default;
    virtual void SetPort(std::uint8_t port) = 0;
    virtual void SetBaudRate(std::int32_t baud) = 0;
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual void Write(const void* buffer, std::uint32_t count) = 0;
    virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
    virtual bool DsrState() const = 0;
    virtual bool IsOpen() const = 0;
    /// A hint from the reader: what it waits for is complete only once `bytes`
    /// more bytes are there (the rest of a frame), so a device that delivers
    /// a byte at a time need not wake it for each one. 1: any byte counts.
    /// Bytes already there are never held back from Read.
    virtual void WakeAfter(std::uint32_t bytes) { (void)bytes; }
};

// ---- the event loop a port reports through -------------------------------

/// The window's event loop (QSocketNotifier) or the console's (EventLoop).
/// Everything here is called on the event thread, except Post.
class PortNotifier {
public:
    virtual ~PortNotifier() = default;
    /// POSIX: calls onReady on the event thread whenever `fd` is readable or
    /// hung up, until UnwatchDescriptor(fd). onReady may unwatch `fd` itself.
    virtual void WatchDescriptor(int fd, std::function<void()> onReady) = 0;
    virtual void UnwatchDescriptor(int fd) = 0;
    /// Runs fn on the event thread, after what is already queued. Thread-safe.
    virtual void Post(std::function<void()> fn) = 0;
};

// ---- TComm ----------------------------------------------------------------

enum class TCommByteSize : std::uint8_t { cbs4, cbs5, cbs6, cbs7, cbs8 };
enum class TCommParityBits : std::uint8_t { cpbNone, cpbOdd, cpbEven, cpbMark, cpbSpace };
enum class TCommStopBits : std::uint8_t { csb1, csb15, csb2 };

/// Sets of flow controls and events are bit sets: element k is bit k.
enum TCommFlowControl : std::uint8_t { cfcDtrDsr = 1u << 0, cfcRtsCts = 1u << 1, cfcXonXoff = 1u << 2 };
using TCommFlowControls = std::uint8_t;

enum TCommEvents : std::uint16_t {
    evRxchar = 1u << 0,
    evRxflag = 1u << 1,
    evTxempty = 1u << 2,
    evCts = 1u << 3,
    evDsr = 1u << 4,
    evRlsd = 1u << 5,
    evBreak = 1u << 6,
    evErr = 1u << 7,
    evRing = 1u << 8,
    evPerr = 1u << 9,
};
using TCommEventMask = std::uint16_t;

class TComm;
using TCommNotifyEvent = std::function<void(TComm& sender, TCommEventMask events)>;
using TCommNotifyRxTxEvent = std::function<void(TComm& sender, std::uint16_t size)>;
/// The device went away while open (adapter pulled, peer closed). Reported
/// once per opening, from the watch thread, which then ends.
using TCommLostEvent = std::function<void(TComm& sender, const std::string& reason)>;
/// An exception left a handler on the watch thread; the loop goes on.
using TCommErrorEvent = std::function<void(TComm& sender, const std::string& message)>;
/// A remark on the line that does not stop it (a terminal server that does
/// not confirm a setting), said once for the life of the port.
using TCommNoticeEvent = std::function<void(TComm& sender, const std::string& text)>;

class TCommWatch;
class LineTrace;
class NetComm;

class TComm : public CommPort {
public:
    TComm();
    explicit TComm(PortDevices devices) : TComm() { devices_ = std::move(devices); }
    ~TComm() override;
    TComm(const TComm&) = delete;
    TComm& operator=(const TComm&) = delete;

    // properties ------------------------------------------------------------
    std::uint8_t Port() const { return port_; }
    void SetPort(std::uint8_t port) override { port_ = port; }
    /// Gives port n (1 or 2) another device; takes effect at the next Open.
    void SetPortDevice(unsigned port, std::string device);
    /// The device opened for port n.
    std::string PortDeviceName(unsigned port) const;
    std::int32_t BaudRate() const { return baudRate_; }
    void SetBaudRate(std::int32_t baud) override;
    std::uint16_t BaudRateUserDefined() const { return baudRateUserDefined_; }
    void SetBaudRateUserDefined(std::uint16_t baud);
    TCommByteSize ByteSize() const { return byteSize_; }
    void SetByteSize(TCommByteSize v);
    TCommParityBits ParityBits() const { return parityBits_; }
    void SetParityBits(TCommParityBits v);
    TCommStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TCommStopBits v);
    TCommFlowControls FlowControls() const { return flowControls_; }
    void SetFlowControls(TCommFlowControls v);
    std::uint16_t InQueueSize() const { return inQueueSize_; }
    void SetInQueueSize(std::uint16_t v);
    std::uint16_t OutQueueSize() const { return outQueueSize_; }
    void SetOutQueueSize(std::uint16_t v);
    std::int32_t ReceiveNotifySize() const { return receiveNotifySize_; }
    void SetReceiveNotifySize(std::int32_t v);
    std::int32_t SendNotifySize() const { return sendNotifySize_; }
    void SetSendNotifySize(std::int32_t v);
    TCommEventMask EventMask() const { return eventMask_; }
    void SetEventMask(TCommEventMask v);

    /// Effective line rate: BaudRate, or BaudRateUserDefined when BaudRate is -1.
    std::int32_t EffectiveBaudRate() const;
    /// The device path of the last Open (empty before).
    std::string DeviceName() const;
    /// Every byte written and read goes to `trace` from now on (nullptr: off).
    /// The trace must outlive the port's use of it (until Close or SetTrace).
    void SetTrace(LineTrace* trace) { trace_.store(trace); }
    /// Handlers run on `notifier`'s event thread from the next Open on
    /// (nullptr: on the port's own watch thread). Open, Close and the
    /// handlers' Read then belong to that thread.
    void SetNotifier(PortNotifier* notifier) { notifier_ = notifier; }
    PortNotifier* Notifier() const { return notifier_; }

    bool DsrState() const override;
    bool IsOpen() const override;

    // events (assign before Open) -----------------------------------------
    TCommNotifyEvent OnCommEvent;
    TCommNotifyRxTxEvent OnCommReceive;
    TCommNotifyRxTxEvent OnCommTransmit;
    TCommLostEvent OnCommLost;
    TCommErrorEvent OnCommError;
    /// Without a handler a notice goes to standard error.
    TCommNoticeEvent OnCommNotice;

    // operations ------------------------------------------------------------
    void Open() override;
    void Close() override;
    void Write(const void* buffer, std::uint32_t count) override;
    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    /// With a notifier, on a device seen delivering a byte at a time: the
    /// line's minimum read count (VMIN), so that readiness waits for them.
    void WakeAfter(std::uint32_t bytes) override;
    void SendString(const std::string& text);
    /// Holds the line in break for 500 ms.
    void SendBreak();

    // called by the watch thread or the event loop ------------------------
    virtual void DoCommEvent(TCommEventMask mask);
    virtual void DoCommReceive();
    virtual void DoCommTransmit();

private:
    friend class TCommWatch;
    friend class NetComm;
    /// Opens a network port (tcp://, rfc2217://; comm_net.h) when the device
    /// is one: true then. False for a serial device, left to the back end.
    bool OpenNetwork();
    /// The connection of a network port, made at its first Open.
    std::unique_ptr<NetComm> net_;
    /// Set when net_ is open: the back end's calls go to it.
    bool Networked() const;
    struct Native;  // what one back end keeps beside the common state
    /// Applies every configuration property to the open port, in the
    /// order BaudRate, ByteSize, ParityBits, StopBits, FlowControls.
    void ApplyAll(int fd);
    /// Reports `waiting` received bytes, just counted by the watch loop.
    void NotifyReceive(std::uint32_t waiting);
    /// Bytes waiting in the driver's input queue (0 when closed or unknown).
    std::uint32_t BytesWaiting() const;
    // Each applies one property to the open descriptor with its own
    // read-change-write of the termios block; a refusal is ignored.
    void ApplyBaudRate(int fd);
    void ApplyByteSize(int fd);
    void ApplyParityBits(int fd);
    void ApplyStopBits(int fd);
    void ApplyFlowControls(int fd);
    /// Waits for `events` on the device, or for Close's wake-up; deadline in
    /// milliseconds. Returns the device's revents, 0 on timeout, -1 on wake-up.
    int WaitDevice(int fd, short events, int timeoutMs) const;
    /// True on this port's watch thread (inside one of its handlers).
    bool OnOwnWatchThread() const;
    /// On a watch thread: its loop has been told to stop.
    static bool OwnWatchStopped();
    /// Takes lifeMutex_; on the watch thread, gives up (false) when another
    /// thread holding it has stopped this thread's loop and is joining it.
    bool LockLifeFromAnyThread(std::unique_lock<std::mutex>& life);
    /// Joins watch threads stopped from their own handlers. Not on a watch thread.
    void JoinRetired();
    /// With a notifier, on the event thread: the device has something to report.
    void ReadyFromNotifier();
    void SetWakeAfter(int fd, unsigned vmin);
    /// With a notifier: the device went away; reported once, notifications end.
    void LostFromNotifier(const std::string& reason);

    // Properties: written by the event thread, read by whichever thread calls
    // Write/Read/DoComm*, hence atomic.
    std::atomic<std::uint8_t> port_{1};
    PortDevices devices_;
    std::atomic<std::int32_t> baudRate_{9600};
    std::atomic<std::uint16_t> baudRateUserDefined_{9600};
    std::atomic<TCommByteSize> byteSize_{TCommByteSize::cbs8};
    std::atomic<TCommParityBits> parityBits_{TCommParityBits::cpbNone};
    std::atomic<TCommStopBits> stopBits_{TCommStopBits::csb1};
    std::atomic<TCommFlowControls> flowControls_{cfcRtsCts};
    std::atomic<std::uint16_t> inQueueSize_{4096};
    std::atomic<std::uint16_t> outQueueSize_{4096};
    std::atomic<std::int32_t> receiveNotifySize_{3072};
    std::atomic<std::int32_t> sendNotifySize_{1024};
    std::atomic<TCommEventMask> eventMask_{0};

    // The descriptor's lifetime: Read, Write and the other users hold ioMutex_
    // shared; Open and Close change fd_ holding it exclusively (Close only
    // after the watch thread has been joined).
    std::atomic<int> fd_{-1};
    std::atomic<int> wakeFd_{-1};          // Close's wake-up (an eventfd), or -1
    std::atomic<bool> lost_{false};        // the device went away (OnCommLost sent)
    std::atomic<std::uint64_t> rxTaken_{0};  // bytes Read so far (anti-spin test)
    std::atomic<LineTrace*> trace_{nullptr};
    std::string device_;
    // Open, Close and the destructor hold lifeMutex_; it guards watch_ and
    // retired_ (watch threads stopped from their own handlers, not yet joined).
    std::mutex lifeMutex_;
    std::unique_ptr<TCommWatch> watch_;
    std::vector<std::unique_ptr<TCommWatch>> retired_;
    mutable std::shared_mutex ioMutex_;

    PortNotifier* notifier_ = nullptr;
    std::unique_ptr<Native> native_;
};

}  // namespace tern::link
