// TComm on the Win32 communications API. See comm.h.
//
// The port is opened overlapped, exclusively (share mode 0), on \\.\COMn
// (the name in any case, with or without the prefix): SetupComm (the queue
// sizes), the DCB (GetCommState / SetCommState: rate, byte size, parity, stop
// bits, flow control; a refused DCB is ignored as on POSIX), SetCommTimeouts,
// PurgeComm, then DTR on (EscapeCommFunction).
//
// Timeouts: a Read returns at once with what waits, else with the first
// bytes that come within 1000 ms, else with 0 (ReadIntervalTimeout and
// ReadTotalTimeoutMultiplier MAXDWORD, ReadTotalTimeoutConstant 1000). wine
// ends such a read on an empty queue with ERROR_TIMEOUT: 0 bytes too. A Write
// may take 1000 ms beyond the time the bytes need on the line. Every byte a
// read returns is traced first, also from a read that ended in a time-out.
//
// The watch thread: SetCommMask(EV_RXCHAR | EV_ERR) and an overlapped
// WaitCommEvent; on an event ClearCommError tells how many bytes wait, and
// the report goes to the event thread (PortNotifier::Post, one report queued
// at a time: the event thread reads all that waits then) or, without a
// notifier, to OnCommReceive on the watch thread itself. Line errors
// (CE_FRAME, CE_RXPARITY, CE_OVERRUN, CE_RXOVER, CE_BREAK) are cleared, never
// a stop (fAbortOnError off); the bytes they garbled or lost reach the link
// as a broken frame, which it counts as noise, as on POSIX.
//
// The device gone: the errors a pulled USB adapter gives (ERROR_ACCESS_DENIED,
// ERROR_BAD_COMMAND, ERROR_DEVICE_REMOVED, ERROR_OPERATION_ABORTED) from
// WaitCommEvent, ReadFile, WriteFile or ClearCommError are a loss at once:
// OnCommLost once, and the watch ends. One exception: wine on a pseudo-
// terminal, whose modem lines cannot be read, ends every idle wait with
// ERROR_OPERATION_ABORTED; there (GetCommModemStatus failing under wine) such
// a wait is waited out for a moment, not spun on. Other failures of the wait
// are a loss when ClearCommError fails too, three times in a row. Close stops
// the watch with a private event plus SetCommMask(0), repeated until the
// thread has ended (wine may not release a pending wait at once), and joins
// it; from a handler on the watch thread the thread is kept aside and joined
// later, as on POSIX.
#include "link/comm.h"
#include "link/comm_net.h"

#include <windows.h>

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cctype>
#include <cstring>
#include <thread>

#include "link/trace.h"

namespace tern::link {

namespace {

constexpr DWORD kReadTimeoutMs = 1000;
constexpr DWORD kWriteTimeoutMs = 1000;
constexpr DWORD kBreakMs = 500;
constexpr DWORD kAbortedPauseMs = 10;   // wine, pseudo-terminal: after an idle wait it ended
constexpr int kFailuresBeforeLost = 3;  // failed waits in a row, ClearCommError failing too
constexpr DWORD kStopRepeatMs = 20;     // SetCommMask(0) again while the watch has not ended
constexpr int kStopRepeats = 250;       // 5 s at most, then joined all the same

std::string WinErrorText(DWORD code) {
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string s = n && text ? std::string(text, n) : "error " + std::to_string(code);
    if (text) ::LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s;
}

/// The errors of a device that is no longer there (a USB adapter pulled).
bool DeviceGoneError(DWORD e) {
    return e == ERROR_OPERATION_ABORTED || e == ERROR_ACCESS_DENIED || e == ERROR_BAD_COMMAND ||
           e == ERROR_DEVICE_REMOVED;
}

/// Running under wine (its ntdll names its version).
bool UnderWine() {
    static const bool wine = [] {
        const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

/// wine's pseudo-terminal: no modem lines, and every idle wait ends aborted.
bool WinePseudoTerminal(HANDLE h) {
    DWORD status = 0;
    return UnderWine() && !::GetCommModemStatus(h, &status);
}

/// "COM12", "com12", "\\.\com12" -> "\\.\COM12" (COM10 and above open only
/// so); any other name as it is.
std::string PortPath(std::string dev) {
    std::string name = dev.rfind("\\\\.\\", 0) == 0 ? dev.substr(4) : dev;
    if (name.size() < 4 || name.size() > 8) return dev;
    if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' || std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M')
        return dev;
    if (!std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; }) || name[3] == '0')
        return dev;
    return "\\\\.\\COM" + name.substr(3);
}

/// A manual-reset event for one overlapped call.
struct Event {
    Event() : h(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Event() {
        if (h) ::CloseHandle(h);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE h;
};

}  // namespace

std::string SystemPortDevice(unsigned port) {
    return port == 0 ? std::string() : "\\\\.\\COM" + std::to_string(port);
}

// ---- what the back end keeps ------------------------------------------------------

/// One opening's token: posted reports run only while it is open.
struct Opening {
    std::atomic<bool> open{true};
};

struct TComm::Native {
    std::atomic<HANDLE> handle{INVALID_HANDLE_VALUE};  // read by the watch thread too
    PortNotifier* notifier = nullptr;
    std::shared_ptr<Opening> opening;
    std::atomic<bool> reportQueued{false};  // a receive report waits on the event thread
    std::atomic<bool> lostReported{false};     // OnCommLost is sent once an opening
};

namespace {
struct WatchState {
    WatchState() : stopEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~WatchState() { ::CloseHandle(stopEvent); }
    WatchState(const WatchState&) = delete;
    WatchState& operator=(const WatchState&) = delete;
    std::atomic<bool> stop{false};
    HANDLE stopEvent;
};

thread_local const TComm* tlsWatchOwner = nullptr;
thread_local const WatchState* tlsWatchState = nullptr;
}  // namespace

bool TComm::OnOwnWatchThread() const { return tlsWatchOwner == this; }

bool TComm::OwnWatchStopped() { return tlsWatchState != nullptr && tlsWatchState->stop.load(); }

class TCommWatch {
public:
    TCommWatch(TComm& owner, HANDLE h) : state_(std::make_shared<WatchState>()) {
        if (!state_->stopEvent) throw std::runtime_error("CreateEvent: " + WinErrorText(::GetLastError()));
        thread_ = std::thread(&TCommWatch::Run, &owner, h, state_);
    }
    ~TCommWatch() {
        if (thread_.joinable()) thread_.join();
    }
    TCommWatch(const TCommWatch&) = delete;
    TCommWatch& operator=(const TCommWatch&) = delete;

    /// Stops the loop (the loop itself ends its pending wait).
    void Stop() {
        state_->stop.store(true);
        ::SetEvent(state_->stopEvent);
    }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    static void Run(TComm* owner, HANDLE h, std::shared_ptr<WatchState> st) {
        tlsWatchOwner = owner;
        tlsWatchState = st.get();
        Loop(owner, h, *st);
    }

    /// Ends a pending WaitCommEvent: SetCommMask(0) and CancelIo, repeated
    /// until it is over (wine may not end it at the first). False if it never
    /// ended; its OVERLAPPED must then stay alive.
    static bool EndPendingWait(HANDLE h, OVERLAPPED& ov) {
        for (int i = 0; i < kStopRepeats; ++i) {
            ::SetCommMask(h, 0);
            ::CancelIo(h);
            if (::WaitForSingleObject(ov.hEvent, kStopRepeatMs) == WAIT_OBJECT_0) {
                DWORD n = 0;
                ::GetOverlappedResult(h, &ov, &n, FALSE);
                return true;
            }
        }
        return false;
    }

    static void Loop(TComm* owner, HANDLE h, WatchState& st) {
        // On the heap: a wait that never ends leaves it to the system.
        auto ov = std::make_unique<OVERLAPPED>();
        ov->hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!ov->hEvent || !::SetCommMask(h, EV_RXCHAR | EV_ERR)) {
            if (ov->hEvent) ::CloseHandle(ov->hEvent);
            owner->LostFromNotifier("SetCommMask: " + WinErrorText(::GetLastError()));
            return;
        }
        bool pending = false;
        int failures = 0;
        // Decided once: the wine pseudo-terminal keeps its modem lines unreadable.
        const bool winePty = WinePseudoTerminal(h);
        while (!st.stop.load()) {
            const HANDLE event = ov->hEvent;
            *ov = OVERLAPPED{};
            ov->hEvent = event;
            ::ResetEvent(event);
            DWORD mask = 0;
            DWORD error = 0;
            if (!::WaitCommEvent(h, &mask, ov.get())) {
                error = ::GetLastError();
                if (error == ERROR_IO_PENDING) {
                    pending = true;
                    HANDLE both[2] = {event, st.stopEvent};
                    ::WaitForMultipleObjects(2, both, FALSE, INFINITE);
                    if (st.stop.load()) break;
                    DWORD n = 0;
                    error = ::GetOverlappedResult(h, ov.get(), &n, TRUE) ? 0 : ::GetLastError();
                    pending = false;
                }
            }
            if (st.stop.load()) break;
            DWORD errors = 0;
            COMSTAT stat{};
            const bool cleared = ::ClearCommError(h, &errors, &stat) != 0;
            const DWORD clearError = cleared ? 0 : ::GetLastError();
            // A line error (CE_FRAME, CE_RXPARITY, CE_OVERRUN, ...) is cleared here; the
            // bytes it garbled or lost make a frame the link counts as noise.
            const bool idleWineAbort = winePty && error == ERROR_OPERATION_ABORTED;
            if ((DeviceGoneError(error) && !idleWineAbort) || DeviceGoneError(clearError)) {
                owner->LostFromNotifier(WinErrorText(DeviceGoneError(error) ? error : clearError));
                break;
            }
            if (error != 0 && !cleared) {
                if (++failures >= kFailuresBeforeLost) {
                    owner->LostFromNotifier(WinErrorText(error));
                    break;
                }
            } else {
                failures = 0;
            }
            if (cleared && stat.cbInQue > 0) {
                owner->NotifyReceive(stat.cbInQue);
            } else if (error != 0) {
                // Nothing to report and the wait failed: do not spin on it.
                ::WaitForSingleObject(st.stopEvent, kAbortedPauseMs);
            }
        }
        if (pending && !EndPendingWait(h, *ov)) {
            (void)ov.release();  // the system may still write to it
            return;
        }
        ::CloseHandle(ov->hEvent);
    }

    std::shared_ptr<WatchState> state_;
    std::thread thread_;
};

// ---- TComm --------------------------------------------------------------------

TComm::TComm() : native_(std::make_unique<Native>()) {}

TComm::~TComm() {
    assert(!OnOwnWatchThread());
    Close();
}

bool TComm::IsOpen() const { return native_->handle != INVALID_HANDLE_VALUE || Networked(); }

bool TComm::DsrState() const {
    if (Networked()) return net_->DsrState();
    std::shared_lock lk(ioMutex_);
    if (!IsOpen() || lost_.load()) return false;
    DWORD status = 0;
    if (::GetCommModemStatus(native_->handle, &status)) return (status & MS_DSR_ON) != 0;
    // Unreadable lines: under wine a pseudo-terminal, which has none (on, as
    // on POSIX); on Windows a port that no longer answers (off).
    return UnderWine();
}

// ---- setters ---------------------------------------------------------------------

namespace {
/// The DCB of every configuration property, from the port's current one.
void FillDcb(DCB& dcb, std::int32_t rate, TCommByteSize size, TCommParityBits parity, TCommStopBits stop,
             TCommFlowControls fc, std::uint16_t inQueue) {
    if (rate > 0) dcb.BaudRate = static_cast<DWORD>(rate);
    switch (size) {
        case TCommByteSize::cbs4: dcb.ByteSize = 4; break;
        case TCommByteSize::cbs5: dcb.ByteSize = 5; break;
        case TCommByteSize::cbs6: dcb.ByteSize = 6; break;
        case TCommByteSize::cbs7: dcb.ByteSize = 7; break;
        case TCommByteSize::cbs8: dcb.ByteSize = 8; break;
    }
    switch (parity) {
        case TCommParityBits::cpbNone: dcb.Parity = NOPARITY; break;
        case TCommParityBits::cpbOdd: dcb.Parity = ODDPARITY; break;
        case TCommParityBits::cpbEven: dcb.Parity = EVENPARITY; break;
        case TCommParityBits::cpbMark: dcb.Parity = MARKPARITY; break;
        case TCommParityBits::cpbSpace: dcb.Parity = SPACEPARITY; break;
    }
    dcb.fParity = parity == TCommParityBits::cpbNone ? FALSE : TRUE;
    dcb.StopBits = stop == TCommStopBits::csb1 ? ONESTOPBIT : stop == TCommStopBits::csb15 ? ONE5STOPBITS : TWOSTOPBITS;
    dcb.fBinary = TRUE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;  // an error must not stop every later read and write
    dcb.fOutxCtsFlow = (fc & cfcRtsCts) ? TRUE : FALSE;
    dcb.fRtsControl = (fc & cfcRtsCts) ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutxDsrFlow = (fc & cfcDtrDsr) ? TRUE : FALSE;
    dcb.fDtrControl = (fc & cfcDtrDsr) ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = (fc & cfcXonXoff) ? TRUE : FALSE;
    dcb.fInX = (fc & cfcXonXoff) ? TRUE : FALSE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    // The driver refuses limits beyond its input queue; a quarter of it each.
    dcb.XonLim = static_cast<WORD>(inQueue / 4);
    dcb.XoffLim = static_cast<WORD>(inQueue / 4);
}
}  // namespace

void TComm::ApplyAll(int) {
    const HANDLE h = native_->handle;
    if (h == INVALID_HANDLE_VALUE) return;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h, &dcb)) return;
    FillDcb(dcb, EffectiveBaudRate(), byteSize_.load(), parityBits_.load(), stopBits_.load(), flowControls_.load(),
            inQueueSize_.load());
    ::SetCommState(h, &dcb);  // refused values are ignored, as on POSIX
}

void TComm::SetBaudRate(std::int32_t baud) {
    baudRate_.store(baud);
    std::shared_lock lk(ioMutex_);
    ApplyAll(0);
}

void TComm::SetBaudRateUserDefined(std::uint16_t baud) {
    baudRateUserDefined_.store(baud);
    baudRate_.store(-1);
    std::shared_lock lk(ioMutex_);
    ApplyAll(0);
}

void TComm::SetByteSize(TCommByteSize v) {
    byteSize_.store(v);
    std::shared_lock lk(ioMutex_);
    ApplyAll(0);
}

void TComm::SetParityBits(TCommParityBits v) {
    parityBits_.store(v);
    std::shared_lock lk(ioMutex_);
    ApplyAll(0);
}

void TComm::SetStopBits(TCommStopBits v) {
    stopBits_.store(v);
    std::shared_lock lk(ioMutex_);
    ApplyAll(0);
}

void TComm::SetFlowControls(TCommFlowControls v) {
    flowControls_.store(v);
    std::shared_lock lk(ioMutex_);
    ApplyAll(0);
}

// The queue sizes take effect at the next Open (SetupComm); the XON/XOFF
// limits follow the input queue (see FillDcb).
void TComm::SetInQueueSize(std::uint16_t v) { inQueueSize_.store(v); }
void TComm::SetOutQueueSize(std::uint16_t v) { outQueueSize_.store(v); }
void TComm::SetReceiveNotifySize(std::int32_t v) { receiveNotifySize_.store(v); }
void TComm::SetSendNotifySize(std::int32_t v) { sendNotifySize_.store(v); }
void TComm::SetEventMask(TCommEventMask v) { eventMask_.store(v); }

// ---- open / close ---------------------------------------------------------------------

void TComm::JoinRetired() {
    for (auto& w : retired_) w->Join();
    retired_.clear();
}

void TComm::Open() {
    if (OpenNetwork()) return;
    std::unique_lock life(lifeMutex_, std::defer_lock);
    if (!LockLifeFromAnyThread(life)) throw ECommOpenError(-1, "the port is being closed");
    if (!OnOwnWatchThread()) JoinRetired();
    std::unique_lock lk(ioMutex_);
    if (IsOpen()) return;

    const std::string dev = PortPath(devices_.For(port_.load()));
    device_ = dev;
    if (dev.empty()) throw ECommOpenError(-1, "there is no COM0", dev, ENOENT);
    std::wstring wide(dev.size() + 1, L'\0');
    wide.resize(static_cast<std::size_t>(std::max(
        0, ::MultiByteToWideChar(CP_UTF8, 0, dev.c_str(), -1, wide.data(), static_cast<int>(wide.size())) - 1)));
    const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0 /* exclusive */, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = ::GetLastError();
        if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION) throw ECommOpenError(-1, "in use", dev, EBUSY);
        const bool missing = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
        throw ECommOpenError(-1, WinErrorText(e), dev, missing ? ENOENT : EIO);
    }
    auto fail = [&](const std::string& what) {
        const DWORD e = ::GetLastError();
        ::CloseHandle(h);
        throw ECommOpenError(-1, what + ": " + WinErrorText(e), dev, EIO);
    };
    DCB probe{};
    probe.DCBlength = sizeof probe;
    if (!::GetCommState(h, &probe)) fail("not a serial port");  // a file or another device
    ::SetupComm(h, inQueueSize_.load(), outQueueSize_.load());  // a size the driver refuses: its own
    native_->handle = h;
    ApplyAll(0);
    COMMTIMEOUTS to{};
    to.ReadIntervalTimeout = MAXDWORD;
    to.ReadTotalTimeoutMultiplier = MAXDWORD;
    to.ReadTotalTimeoutConstant = kReadTimeoutMs;
    const std::int32_t rate = std::max<std::int32_t>(EffectiveBaudRate(), 1);
    to.WriteTotalTimeoutMultiplier = static_cast<DWORD>(10000 / rate + 1);  // ms a byte, rounded up
    to.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    if (!::SetCommTimeouts(h, &to)) {
        native_->handle = INVALID_HANDLE_VALUE;
        fail("SetCommTimeouts");
    }
    ::PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);

    lost_.store(false);
    native_->lostReported.store(false);
    native_->notifier = notifier_;
    native_->opening = std::make_shared<Opening>();
    native_->reportQueued.store(false);
    try {
        watch_ = std::make_unique<TCommWatch>(*this, h);
    } catch (const std::exception& e) {
        native_->handle = INVALID_HANDLE_VALUE;
        native_->opening->open.store(false);
        ::CloseHandle(h);
        throw ECommOpenError(-1, e.what(), dev);
    }
    ::EscapeCommFunction(h, SETDTR);
}

void TComm::Close() {
    if (net_) net_->Close();
    std::unique_lock life(lifeMutex_, std::defer_lock);
    if (!LockLifeFromAnyThread(life)) return;
    const HANDLE h = native_->handle;
    if (native_->opening) native_->opening->open.store(false);  // queued reports are dropped
    if (watch_) {
        if (OnOwnWatchThread()) {
            watch_->Stop();
            retired_.push_back(std::move(watch_));
        } else {
            watch_->Stop();
            watch_->Join();
            watch_.reset();
        }
    }
    if (!OnOwnWatchThread()) JoinRetired();
    std::unique_lock lk(ioMutex_);
    if (h != INVALID_HANDLE_VALUE) {
        ::EscapeCommFunction(h, CLRDTR);
        ::PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
        ::CloseHandle(h);
    }
    native_->handle = INVALID_HANDLE_VALUE;
}

// ---- I/O ----------------------------------------------------------------------------------

std::uint32_t TComm::BytesWaiting() const {
    if (Networked()) return net_->BytesWaiting();
    std::shared_lock lk(ioMutex_);
    DWORD errors = 0;
    COMSTAT stat{};
    if (!IsOpen() || !::ClearCommError(native_->handle, &errors, &stat)) return 0;
    return stat.cbInQue;
}

void TComm::Write(const void* buffer, std::uint32_t count) {
    if (Networked()) return net_->Write(buffer, count);
    std::shared_lock lk(ioMutex_);
    const HANDLE h = native_->handle;
    if (h == INVALID_HANDLE_VALUE) throw ECommError(kMsgNotStarted);
    if (count > outQueueSize_.load()) throw ECommError(kMsgTooLong);
    if (LineTrace* t = trace_.load()) t->Record(TraceDirection::ToCamera, static_cast<const std::uint8_t*>(buffer), count);
    if (count == 0) return;
    Event ev;
    OVERLAPPED ov{};
    ov.hEvent = ev.h;
    DWORD written = 0;
    if (!::WriteFile(h, buffer, count, &written, &ov)) {
        DWORD e = ::GetLastError();
        if (e == ERROR_IO_PENDING) e = ::GetOverlappedResult(h, &ov, &written, TRUE) ? 0 : ::GetLastError();
        if (e != 0) {
            lk.unlock();  // a handler of the loss may close the port
            if (DeviceGoneError(e)) LostFromNotifier(WinErrorText(e));
            throw ECommReadWriteError(e, WinErrorText(e));
        }
    }
    if (written < count)
        throw ECommReadWriteError(ERROR_TIMEOUT, "write timed out (" + std::to_string(kWriteTimeoutMs) +
                                                     " ms without progress)");
}

void TComm::WakeAfter(std::uint32_t) {}  // the watch thread reads what comes

std::uint32_t TComm::Read(void* buffer, std::uint32_t count) {
    if (Networked()) return net_->Read(buffer, count);
    std::shared_lock lk(ioMutex_);
    const HANDLE h = native_->handle;
    if (h == INVALID_HANDLE_VALUE) throw ECommError(kMsgNotStarted);
    if (count == 0) return 0;
    Event ev;
    OVERLAPPED ov{};
    ov.hEvent = ev.h;
    DWORD got = 0;
    if (!::ReadFile(h, buffer, count, &got, &ov)) {
        DWORD e = ::GetLastError();
        bool cancelled = false;
        if (e == ERROR_IO_PENDING) {
            // The port's timeouts end the read; the wait is bounded here too,
            // for a driver that does not keep them.
            if (::WaitForSingleObject(ev.h, kReadTimeoutMs + 500) != WAIT_OBJECT_0) cancelled = ::CancelIoEx(h, &ov) != 0;
            e = ::GetOverlappedResult(h, &ov, &got, TRUE) ? 0 : ::GetLastError();
        }
        // Nothing (more) came within the timeout: wine says ERROR_TIMEOUT, our
        // own cancel ERROR_OPERATION_ABORTED. What came is kept (below).
        if (e == ERROR_TIMEOUT || (e == ERROR_OPERATION_ABORTED && cancelled)) e = 0;
        if (e != 0) {
            lk.unlock();  // a handler of the loss may close the port
            if (DeviceGoneError(e)) LostFromNotifier(WinErrorText(e));
            throw ECommReadWriteError(e, WinErrorText(e));
        }
    }
    if (got > 0) {
        rxTaken_.fetch_add(got);
        if (LineTrace* t = trace_.load()) t->Record(TraceDirection::FromCamera, static_cast<const std::uint8_t*>(buffer), got);
    }
    return got;
}

void TComm::SendString(const std::string& text) { Write(text.data(), static_cast<std::uint32_t>(text.size())); }

void TComm::SendBreak() {
    if (Networked()) return net_->SendBreak();
    std::shared_lock lk(ioMutex_);
    const HANDLE h = native_->handle;
    if (h == INVALID_HANDLE_VALUE) throw ECommReadWriteError(ERROR_INVALID_HANDLE, WinErrorText(ERROR_INVALID_HANDLE));
    if (!::SetCommBreak(h)) {
        const DWORD e = ::GetLastError();
        throw ECommReadWriteError(e, WinErrorText(e));
    }
    ::Sleep(kBreakMs);
    ::ClearCommBreak(h);
}

// ---- events ----------------------------------------------------------------------------------

void TComm::DoCommEvent(TCommEventMask mask) {
    if (!IsOpen() || !OnCommEvent) return;
    const TCommEventMask reported =
        mask & static_cast<TCommEventMask>(evRxflag | evCts | evDsr | evRlsd | evBreak | evErr | evRing);
    OnCommEvent(*this, reported);
}

void TComm::DoCommReceive() {
    if (!IsOpen() || !OnCommReceive) return;
    NotifyReceive(BytesWaiting());
}

void TComm::NotifyReceive(std::uint32_t waiting) {
    if (waiting == 0 || !IsOpen() || !OnCommReceive) return;
    Native& n = *native_;
    if (n.notifier && OnOwnWatchThread()) {
        // One report queued at a time: the event thread reads all that waits then.
        if (n.reportQueued.exchange(true)) return;
        n.notifier->Post([this, opening = n.opening] {
            if (!opening->open.load()) return;
            native_->reportQueued.store(false);
            ReadyFromNotifier();
        });
        return;
    }
    try {
        OnCommReceive(*this, static_cast<std::uint16_t>(std::min<std::uint32_t>(waiting, 65535)));
    } catch (const std::exception& e) {
        if (OnCommError) OnCommError(*this, e.what());
    }
}

void TComm::ReadyFromNotifier() {
    // On the event thread: what waits now, including what came after the post.
    NotifyReceive(BytesWaiting());
}

void TComm::LostFromNotifier(const std::string& reason) {
    Native& n = *native_;
    if (n.lostReported.exchange(true)) return;
    auto report = [this, reason] {
        lost_.store(true);
        if (!OnCommLost) return;
        try {
            OnCommLost(*this, reason);
        } catch (const std::exception& e) {
            if (OnCommError) OnCommError(*this, e.what());
        }
    };
    lost_.store(true);
    if (n.notifier) {
        n.notifier->Post([report, opening = n.opening] {
            if (opening->open.load()) report();
        });
    } else {
        report();
    }
}

void TComm::DoCommTransmit() {
    if (!OnCommTransmit) return;
    DWORD queued = 0;
    {
        std::shared_lock lk(ioMutex_);
        DWORD errors = 0;
        COMSTAT stat{};
        if (!IsOpen() || !::ClearCommError(native_->handle, &errors, &stat)) return;
        queued = stat.cbOutQue;
    }
    OnCommTransmit(*this, static_cast<std::uint16_t>(std::min<DWORD>(queued, 65535)));
}

}  // namespace tern::link
