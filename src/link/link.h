// The one link object: the command frame, the receive frame and its state
// machine, the link state, the connection handshake, the reply watch and the
// receive dispatcher. Everything that talks to the camera goes through it.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <span>
#include <string>
#include <vector>

#include "link/codec.h"
#include "link/comm.h"
#include "link/host.h"

namespace tern::link {

/// Lost: the device went away after the connection; the port is opened
/// again once per SendTimer tick until the camera answers ENQ once more.
enum class LinkMode : std::uint8_t { Connecting = 0, Idle = 1, AwaitReply = 2, Lost = 3 };

/// Ticks of SendTimer (1500 ms) and retries of the reply watch.
inline constexpr int kReplyTicks = 20;
inline constexpr int kReplyRetries = 2;
inline constexpr int kBlockReplyTicks = 100;
inline constexpr int kBlockReplyRetries = 10;
inline constexpr int kSendTimerMs = 1500;
inline constexpr int kReloadTimerMs = 4000;
inline constexpr int kCursorTimerMs = 10;
inline constexpr int kLinkBaud = 9600;
/// NAKs the tool sends for one exchange (replies failing their check code)
/// before it ends that exchange as the reply watch's give-up does.
inline constexpr int kMaxNaksPerExchange = 5;
/// SendTimer ticks on which a frame whose write failed is written again
/// before its exchange ends with the give-up message.
inline constexpr int kMaxWriteRetries = 3;

inline constexpr const char* kMsgNotConnected = " Serial Port not connected ";
inline constexpr const char* kCapNotConnected = "Comm.ERR";
inline constexpr const char* kMsgDrOff = "Camera Connection changed (DR OFF)";
inline constexpr const char* kCapDrOff = "KB";
inline constexpr const char* kMsgRecvErr = "sr_err1";
inline constexpr const char* kCapRecvErr = "recv_chr";
inline constexpr const char* kTextConnecting = "Comm. Connecting";

/// True when `reply` answers `command` as fully as the command tells:
/// the item always, and the register, sub-item, block or piece that the
/// command names in its first parameter byte (a write's reply may carry its
/// item alone). A block frame's reply carries the block tag; the camera's
/// request to read the page again (item 21) answers any frame.
bool ReplyAnswers(const FrameBytes& command, bool block, const FrameBytes& reply);

class Link {
public:
    Link(CommPort& comm, LinkHost& host);

    // ---- frames and receive state (read by every page) --------------------
    /// The last frame sent: byte 0 STX or SOH, bytes 1..15 the payload of the
    /// last command frame that really went out.
    const FrameBytes& CmdFrame() const { return cmdFrame_; }
    std::uint8_t CmdPayload(int i) const { return cmdFrame_.at(static_cast<std::size_t>(i)); }
    /// The receive buffer: start byte at 0, then the data bytes and ETX.
    const FrameBytes& RecvFrame() const { return recvFrame_; }
    std::uint8_t Recv(int offset) const { return recvFrame_.at(static_cast<std::size_t>(offset)); }
    const BlockBytes& BlockFrame() const { return blockFrame_; }
    int RecvState() const { return recvState_; }
    int RecvCount() const { return recvCount_; }
    std::uint16_t RecvCrc() const { return recvCrc_; }

    // ---- link state ----------------------------------------------------------
    LinkMode Mode() const { return mode_; }
    bool LinkBusy() const { return linkBusy_; }
    int ReplyTimer() const { return replyTimer_; }
    int RetryCount() const { return retryCount_; }
    /// NAKs sent for the exchange in flight.
    int NakCount() const { return nakCount_; }
    int ConnectTry() const { return connectTry_; }
    bool PanelLock() const { return panelLock_; }
    /// The payload of the last command frame sent, as hex text (status panel 1).
    std::string CommandText() const;
    /// The data bytes of the last reply taken, as hex text (status panel 2).
    std::string ReplyText() const;

    // ---- sending ---------------------------------------------------------------
    /// Sends a control byte that opens an exchange (ENQ): the link is busy and
    /// the reply watch armed before the byte is written, so a write that
    /// raises leaves the link as a sent byte whose answer is late.
    int SendSeq(std::uint8_t code);
    void IdEnq() { SendSeq(ENQ); }
    /// Frames payload bytes 1..n (n+1..15 become zero) and sends them. Refused
    /// silently, leaving CmdFrame as it was, while LinkBusy is set. Returns 0.
    /// A write that raises (ECommReadWriteError) is passed on to the caller,
    /// with the link left as after a sent frame whose answer is late: the
    /// reply watch re-sends it and gives up with its message.
    int StxCommand(const Payload& payload, int n);
    /// Builds and sends the block frame from the low bytes of 1024 image entries.
    void SohCommand(std::span<const std::int32_t, kBlockDataSize> image);
    /// The key command 21 32 key, when idle.
    void SW_push(std::uint8_t key);

    // ---- receiving -----------------------------------------------------------
    /// Feeds one byte to the receive state machine: -1 for nothing yet, else an event.
    int r_data(std::uint8_t byte);
    /// The bytes certain to come next: the rest of the frame being received,
    /// a whole reply frame once its command's ACK is in, else 1.
    std::uint32_t FrameRest() const;
    /// The receive dispatcher. Runs on the event thread; bytes that arrive
    /// while it is already running (a message box opened from inside it) are
    /// queued and dispatched in order once the running reaction is over.
    void Comm1CommReceive(std::span<const std::uint8_t> bytes);
    /// Watch-thread side: reads the `size` bytes reported waiting and hands
    /// them to the event thread (through the inbox; one wake-up is posted
    /// while the event thread has not yet taken what is there). Install as
    /// TComm::OnCommReceive.
    void OnCommReceiveWatchThread(CommPort& port, std::uint16_t size);
    /// Event-thread side, for a port whose notifications run on the event
    /// thread (TComm::SetNotifier): reads the `size` bytes reported in one
    /// call and dispatches them at once. Install as TComm::OnCommReceive.
    void OnCommReceive(CommPort& port, std::uint16_t size);
    /// True while the dispatcher's reaction to received bytes is running.
    bool InDispatch() const { return dispatching_; }
    /// Bytes taken by the dispatcher since the start, and bytes waiting for it.
    std::uint64_t BytesTaken() const { return bytesTaken_; }
    std::size_t BytesWaiting() const { return pending_.size() + spanLeft_; }
    /// Valid frames dropped because they did not answer the frame in flight.
    int StaleReplies() const { return staleReplies_; }
    /// The host holds the dispatcher back while it shows a modal box, whoever
    /// opened it: bytes that arrive meanwhile wait, and are dispatched in
    /// order once the handler that opened the box has returned.
    void HoldDispatch();
    void ReleaseDispatch();
    /// Runs fn now or, while the dispatcher's reaction is running or a box is
    /// up (a modal box lets the event loop run), once that is over. A key already waiting is not queued twice: a timer that ticks
    /// many times under one box runs once after it.
    void RunOutsideDispatch(const void* key, std::function<void()> fn);

    // ---- the user's changes that found the link busy ---------------------------------
    /// A change the user made while the link was busy: `send` runs once the
    /// link is free (Trans_chk), one waiting action an exchange, in the order
    /// the user made them. A second change under the same key replaces the
    /// first and moves behind the others, so one frame goes out per control
    /// with its newest value, unless a command button was pressed after the
    /// first (QueueButton): then both go, each in its place. `name` is the
    /// setting's name, told to the user when the change is dropped.
    void SendWhenFree(const void* key, std::string name, std::function<void()> send);
    void SendWhenFree(const void* key, std::function<void()> send) { SendWhenFree(key, {}, std::move(send)); }
    /// A command button (SAVE, PRESET, a key) pressed while the link was
    /// busy: `send` runs in the user's order, and a change queued before it
    /// keeps its place before it.
    void QueueButton(std::string name, std::function<void()> send);
    /// Runs the oldest waiting action when the link is free. Called when an
    /// exchange has ended and on every SendTimer tick; the host calls it too
    /// after work of its own that may free the link.
    void SendWaiting();
    std::size_t WaitingChanges() const { return waiting_.size(); }
    /// The names of the waiting actions, oldest first.
    std::vector<std::string> WaitingNames() const;
    /// Forgets the waiting actions (another device chosen: the camera's
    /// settings are read afresh into the controls).
    void DropWaiting() { waiting_.clear(); }

    // ---- control --------------------------------------------------------------
    void Trans_Create();
    void CnctDataLink(std::uint8_t port, std::int32_t baud);
    bool Trans_chk() const;
    bool DR_check() const { return comm_.DsrState(); }
    void ReLoadClick();
    void Lock_on();
    void Lock_off();
    void Cursor_set(int cursor);
    /// Closes the port (Exit, window destruction).
    void Close();
    /// The device went away (its loss has been shown): commands are refused
    /// as on a busy link, and the port is opened again, silently, once per
    /// SendTimer tick; when the camera answers ENQ the page shown is read.
    void PortLost();
    /// Connects afresh on COM1 (another device chosen for it): the
    /// handshake, then the page shown is read.
    void Reconnect();
    /// The camera has answered ENQ at least once since the start.
    bool EverConnected() const { return everConnected_; }

    // ---- timer handlers (plain methods; the host's timers call them) ---------
    void SendTimerTimer();
    void ReloadTimerTimer();
    void cursor_timerTimer();

private:
    void Dispatch(std::uint8_t byte);
    /// Starts the host's cursor timer for a return to rest that waits for it.
    void StartCursorTimer();
    /// One SendTimer tick while the device is gone: open it again, send ENQ.
    void RetryLostPort();
    /// Commands refused, the port retried each tick until the camera answers.
    void EnterLost();
    void OnEvent(int event);
    void WriteFrame(const std::uint8_t* data, std::size_t count);
    /// The frame in flight, as it was sent: the block frame or CmdFrame.
    void WriteLastFrame();
    /// Writes a control byte that answers the camera (EOT, ACK, NAK): it opens
    /// no exchange, so the link state is left alone. Runs inside the
    /// dispatcher, so a refused write is shown and the reaction goes on.
    void SendControl(std::uint8_t code);
    /// A bad-check frame has been NAKed: counts towards the exchange's bound.
    void OnNakSent();
    /// Ends the exchange in flight with the give-up message.
    void GiveUp();
    /// A frame that could not be written has not left: written again now.
    void RewriteFailedFrame();
    /// A frame that does not end with ETX: "sr_err1" once per burst of noise.
    void ReportNoise();
    /// A new frame of ours goes out: state for its exchange, set before writing.
    void BeginExchange(int ticks, int retries);
    void ResetReceive() { recvState_ = 0; }

    CommPort& comm_;
    LinkHost& host_;

    FrameBytes cmdFrame_{};
    FrameBytes recvFrame_{};
    BlockBytes blockFrame_{};
    int recvState_ = 0;
    int recvCount_ = 0;
    std::uint16_t recvCrc_ = 0;
    /// The last thing sent was the block frame (the reply watch re-sends it whole).
    bool lastWasBlock_ = false;

    LinkMode mode_ = LinkMode::Connecting;
    bool linkBusy_ = false;
    int replyTimer_ = kReplyTicks;
    int retryCount_ = 0;
    int nakCount_ = 0;
    /// A write failure of this exchange has been shown (the reply watch's
    /// re-sends do not show it again).
    bool writeErrorShown_ = false;
    /// The frame of the exchange in flight could not be written.
    bool writeFailed_ = false;
    int writeRetries_ = 0;
    /// "sr_err1" has been shown and no good frame has come since.
    bool noiseShown_ = false;
    int noiseRepeats_ = 0;
    int connectTry_ = 0;
    bool panelLock_ = false;
    bool everConnected_ = false;
    /// The host has been told the link is busy, and not yet that it rests.
    bool busyShown_ = false;
    /// The Cursor timer runs towards telling the host the link rests.
    bool cursorPending_ = false;
    bool cursorTimerOn_ = false;  ///< the host's cursor timer was started for cursorPending_

    void RunDeferred();

    bool dispatching_ = false;
    std::uint64_t bytesTaken_ = 0;
    int holds_ = 0;
    std::deque<std::pair<const void*, std::function<void()>>> deferred_;
    struct Waiting {
        const void* key;  ///< nullptr for a command button
        std::string name;
        std::function<void()> send;
    };
    std::deque<Waiting> waiting_;
    bool sendingWaiting_ = false;
    /// Bytes that came while the dispatcher was busy or held back.
    std::vector<std::uint8_t> pending_;
    /// Bytes of the chunk being dispatched that are still to come.
    std::size_t spanLeft_ = 0;
    void DispatchBytes(std::span<const std::uint8_t> bytes);
    /// The reply taken is acknowledged with the next write (or at the end
    /// of the dispatcher's reaction).
    bool ackPending_ = false;
    void FlushAck();
    bool AnswersFrameInFlight() const;
    void DropStaleReply();
    int staleReplies_ = 0;
    /// SendTimer is running (the link asked for it).
    bool sendTimerOn_ = true;  // the hosts run it from the start
    /// Runs SendTimer only while something waits on it.
    void UpdateSendTimer(bool mayStop = false);
    /// Event thread: takes what the watch thread has read and dispatches it.
    void TakeInbox();
    /// Drops bytes read from an earlier opening (after the port is closed).
    void ClearInbox();

    /// Bytes read by the watch thread and not yet taken by the event thread.
    /// Emptied on every close, so bytes of an earlier opening are dropped.
    std::mutex inboxMutex_;
    std::vector<std::uint8_t> inbox_;
    /// A wake-up for the inbox is queued on the event thread.
    bool inboxPosted_ = false;
    /// OnCommReceive's buffer, kept from call to call (never cleared).
    static constexpr std::uint32_t kRxChunk = 8192;
    std::array<std::uint8_t, kRxChunk> rxChunk_;
};

}  // namespace tern::link
