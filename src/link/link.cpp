#include "link/link.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "link/protocol.h"

namespace tern::link {

Link::Link(CommPort& comm, LinkHost& host)
    : comm_(comm), host_(host) {}

// ---- sending ------------------------------------------------------------------

void Link::WriteFrame(const std::uint8_t* data, std::size_t count) {
    comm_.Write(data, static_cast<std::uint32_t>(count));
}

void Link::FlushAck() {
    if (!ackPending_) return;
    ackPending_ = false;
    SendControl(ACK);
}

void Link::WriteLastFrame() {
    if (lastWasBlock_) {
        WriteFrame(blockFrame_.data(), 512);
        WriteFrame(blockFrame_.data() + 512, kBlockFrameSize - 512);
    } else {
        WriteFrame(cmdFrame_.data(), cmdFrame_.size());
    }
}

void Link::BeginExchange(int ticks, int retries) {
    linkBusy_ = true;
    // The new frame needs its own ACK before a reply can count.
    if (mode_ != LinkMode::Connecting) mode_ = LinkMode::Idle;
    replyTimer_ = ticks;
    retryCount_ = retries;
    nakCount_ = 0;
    writeErrorShown_ = false;
    writeFailed_ = false;
    writeRetries_ = 0;
}

int Link::SendSeq(std::uint8_t code) {
    FlushAck();
    Cursor_set(1);
    linkBusy_ = true;
    replyTimer_ = kReplyTicks;
    retryCount_ = kReplyRetries;
    nakCount_ = 0;
    UpdateSendTimer();
    WriteFrame(&code, 1);
    return 0;
}

void Link::SendControl(std::uint8_t code) {
    if (code != ACK) FlushAck();  // the camera hears our answers in order
    try {
        WriteFrame(&code, 1);
    } catch (const ECommError& e) {
        host_.ShowException(e);
    }
}

int Link::StxCommand(const Payload& payload, int n) {
    if (linkBusy_) return 0;
    n = std::clamp(n, 0, static_cast<int>(kPayloadSize));
    // Built apart and committed only once it is going out: a refused send
    // must not disturb the frame in flight, which the reply watch re-sends.
    const FrameBytes frame = BuildStxFrame(payload, n);
    Cursor_set(1);
    cmdFrame_ = frame;
    lastWasBlock_ = false;
    // Everything the reply watch needs is in place before the write: if the
    // write raises, the frame counts as sent with its answer late.
    BeginExchange(kReplyTicks, kReplyRetries);
    UpdateSendTimer();
    host_.FrameSent();
    try {
        if (ackPending_) {
            // The reply that led here is acknowledged in the same write.
            ackPending_ = false;
            std::array<std::uint8_t, kCmdFrameSize + 1> both;
            both[0] = ACK;
            std::copy(cmdFrame_.begin(), cmdFrame_.end(), both.begin() + 1);
            WriteFrame(both.data(), both.size());
        } else {
            WriteFrame(cmdFrame_.data(), cmdFrame_.size());
        }
    } catch (const ECommError&) {
        // The frame never left: the next SendTimer tick writes it again.
        writeErrorShown_ = true;  // the caller shows it
        writeFailed_ = true;
        throw;
    }
    return 0;
}

void Link::SohCommand(std::span<const std::int32_t, kBlockDataSize> image) {
    if (linkBusy_) {
        host_.ExchangeRefused();
        return;
    }
    FlushAck();
    host_.EnablePageControl(false);
    Cursor_set(1);
    std::array<std::uint8_t, kBlockDataSize> data{};
    for (std::size_t i = 0; i < kBlockDataSize; ++i) data[i] = static_cast<std::uint8_t>(image[i] & 0xFF);
    blockFrame_ = BuildBlockFrame(data);
    cmdFrame_[0] = SOH;
    lastWasBlock_ = true;
    BeginExchange(kBlockReplyTicks, kBlockReplyRetries);
    UpdateSendTimer();
    try {
        WriteFrame(blockFrame_.data(), 512);
        WriteFrame(blockFrame_.data() + 512, kBlockFrameSize - 512);
    } catch (const ECommError&) {
        writeErrorShown_ = true;
        writeFailed_ = true;
        throw;
    }
    host_.AdvanceCopyProgress(static_cast<int>(kBlockDataSize));
}

void Link::SW_push(std::uint8_t key) {
    if (!Trans_chk()) return;
    Payload p;
    p[1] = 0x21;
    p[2] = 0x32;
    p[3] = key;
    StxCommand(p, 3);
}

// ---- receive state machine -------------------------------------------------------

int Link::r_data(std::uint8_t byte) {
    int event = -1;
    switch (recvState_) {
        case 0:
            switch (byte) {
                case NUL: case EOT: case ENQ: case ACK: case DC1: case NAK: case SYN:
                    event = byte;
                    break;
                case SOH: case STX:
                    recvCount_ = 0;
                    recvFrame_[0] = byte;
                    recvCount_ = 1;
                    recvState_ = 1;
                    break;
                default:
                    break;
            }
            break;
        case 1:
            recvFrame_[static_cast<std::size_t>(recvCount_)] = byte;
            ++recvCount_;
            if ((recvFrame_[0] == SOH && recvCount_ >= 3) || (recvFrame_[0] == STX && recvCount_ >= 16)) {
                recvState_ = 2;
            }
            break;
        case 2:
            if (byte == ETX) {
                recvFrame_[static_cast<std::size_t>(recvCount_)] = byte;
                ++recvCount_;
                recvState_ = 3;
            } else {
                recvState_ = 0;
                ReportNoise();
            }
            break;
        case 3:
            recvCrc_ = static_cast<std::uint16_t>(byte << 8);
            recvState_ = 4;
            break;
        case 4: {
            recvCrc_ = static_cast<std::uint16_t>(recvCrc_ | byte);
            const std::size_t covered = recvFrame_[0] == SOH ? 3 : 16;
            if (Crc16(std::span<const std::uint8_t>(recvFrame_.data() + 1, covered)) == recvCrc_) {
                event = ETX;
                recvState_ = 5;
                // A good frame ends a burst of noise: the next one is shown again.
                noiseShown_ = false;
                noiseRepeats_ = 0;
            } else {
                recvState_ = 0;
                // The camera sends a NAKed frame again; a camera whose every
                // copy fails would be asked for ever: after the bound, the
                // late copies are dropped without a word until we send anew.
                if (nakCount_ < kMaxNaksPerExchange) {
                    SendControl(NAK);
                    OnNakSent();
                }
            }
            break;
        }
        case 5:
        default:
            // The byte after a frame is an event whatever it is; read as a
            // signed byte, so 0x80 and above count as nothing.
            event = static_cast<std::int8_t>(byte);
            recvState_ = 0;
            break;
    }
    return event;
}

std::uint32_t Link::FrameRest() const {
    // STX, 15 bytes, ETX and the check code; SOH, 2 bytes, ETX and the check code.
    const std::uint32_t whole = recvFrame_[0] == SOH ? kShortFrameSize : kCmdFrameSize;
    switch (recvState_) {
        case 1: return whole - static_cast<std::uint32_t>(recvCount_);
        case 2: return 3;
        case 3: return 2;
        case 4: return 1;
        default:
            // Between frames: once a command's ACK is in, its reply frame
            // comes next, whole (a block's answer is left to any byte).
            return mode_ == LinkMode::AwaitReply && !lastWasBlock_ ? kCmdFrameSize : 1;
    }
}

// ---- receive dispatcher ------------------------------------------------------------

void Link::OnCommReceiveWatchThread(CommPort& port, std::uint16_t size) {
    std::array<std::uint8_t, 512> chunk;
    std::uint32_t left = size;
    while (left > 0) {
        const std::uint32_t n = port.Read(chunk.data(), std::min<std::uint32_t>(left, chunk.size()));
        if (n == 0) break;
        left -= n;
        bool post = false;
        {
            std::lock_guard lock(inboxMutex_);
            inbox_.insert(inbox_.end(), chunk.begin(), chunk.begin() + n);
            post = !inboxPosted_;
            inboxPosted_ = true;
        }
        if (post) host_.PostToEventThread([this] { TakeInbox(); });
    }
}

void Link::OnCommReceive(CommPort& port, std::uint16_t size) {
    // Read takes what the port reported, a chunk at a time, into a buffer
    // that is never cleared; the dispatcher works on it where it lies.
    std::uint32_t left = size;
    while (left > 0) {
        const std::uint32_t n = port.Read(rxChunk_.data(), std::min<std::uint32_t>(left, kRxChunk));
        if (n == 0) break;
        left -= n;
        Comm1CommReceive(std::span<const std::uint8_t>(rxChunk_.data(), n));
        if (!port.IsOpen()) break;  // a handler closed it
    }
}

void Link::TakeInbox() {
    std::vector<std::uint8_t> bytes;
    {
        std::lock_guard lock(inboxMutex_);
        bytes.swap(inbox_);
        inboxPosted_ = false;
    }
    if (!bytes.empty()) Comm1CommReceive(bytes);
    // Hand the buffer back, so the next bytes need no new allocation.
    bytes.clear();
    std::lock_guard lock(inboxMutex_);
    if (inbox_.empty() && inbox_.capacity() < bytes.capacity()) inbox_.swap(bytes);
}

void Link::ClearInbox() {
    std::lock_guard lock(inboxMutex_);
    inbox_.clear();
}

void Link::DispatchBytes(std::span<const std::uint8_t> bytes) {
    spanLeft_ = bytes.size();
    for (const std::uint8_t b : bytes) {
        --spanLeft_;
        ++bytesTaken_;
        try {
            Dispatch(b);
        } catch (const std::exception& e) {
            // A send refused inside the reaction (the next step of a chain,
            // say): shown, and the bytes behind it are still dispatched.
            host_.ShowException(e);
        }
    }
}

void Link::Comm1CommReceive(std::span<const std::uint8_t> bytes) {
    if (dispatching_ || holds_ > 0) {  // a box is up: wait
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        return;
    }
    dispatching_ = true;
    struct Done {
        Link& l;
        ~Done() {
            l.dispatching_ = false;
            l.spanLeft_ = 0;
            l.StartCursorTimer();  // the return to rest a reply left waiting
        }
    } done{*this};
    // Straight from the caller's buffer; bytes that came under a box are
    // taken after these, in order.
    if (!pending_.empty()) {
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        bytes = {};
    }
    DispatchBytes(bytes);
    while (!pending_.empty()) {
        std::vector<std::uint8_t> waiting;
        waiting.swap(pending_);
        DispatchBytes(waiting);
    }
    dispatching_ = false;
    FlushAck();
    RunDeferred();
    SendWaiting();
    // The reaction is over: if nothing followed the reply, SendTimer stops
    // now rather than at its next tick, so an idle link wakes nobody.
    UpdateSendTimer(true);
    // Inside a frame nothing happens until its last byte: the port need not
    // wake for the ones before it.
    if (comm_.IsOpen()) comm_.WakeAfter(FrameRest());
}

void Link::HoldDispatch() {
    // The camera's reply is acknowledged before the box is up, not after it.
    FlushAck();
    ++holds_;
}

void Link::ReleaseDispatch() {
    if (holds_ == 0 || --holds_ > 0) return;
    if (pending_.empty() && deferred_.empty()) return;
    // After the handler that opened the box, not inside it.
    host_.PostToEventThread([this] { Comm1CommReceive({}); });
}

void Link::RunOutsideDispatch(const void* key, std::function<void()> fn) {
    if (!dispatching_ && holds_ == 0) {
        fn();
        return;
    }
    for (const auto& waiting : deferred_) {
        if (key != nullptr && waiting.first == key) return;
    }
    deferred_.emplace_back(key, std::move(fn));
}

void Link::RunDeferred() {
    while (!deferred_.empty() && !dispatching_ && holds_ == 0) {
        auto fn = std::move(deferred_.front().second);
        deferred_.pop_front();
        try {
            fn();
        } catch (const std::exception& e) {
            host_.ShowException(e);  // the others still run
        }
    }
}

void Link::SendWhenFree(const void* key, std::string name, std::function<void()> send) {
    // The older change of this setting goes, unless a button was pressed
    // after it: what the camera got before that press must stay before it.
    for (auto it = waiting_.rbegin(); it != waiting_.rend(); ++it) {
        if (it->key == nullptr) break;
        if (it->key == key) {
            waiting_.erase(std::next(it).base());
            break;
        }
    }
    waiting_.push_back({key, std::move(name), std::move(send)});
    UpdateSendTimer();
}

void Link::QueueButton(std::string name, std::function<void()> send) {
    waiting_.push_back({nullptr, std::move(name), std::move(send)});
    UpdateSendTimer();
}

std::vector<std::string> Link::WaitingNames() const {
    std::vector<std::string> names;
    names.reserve(waiting_.size());
    for (const auto& w : waiting_) names.push_back(w.name);
    return names;
}

void Link::SendWaiting() {
    if (sendingWaiting_ || dispatching_ || holds_ > 0) return;
    sendingWaiting_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{sendingWaiting_};
    // One exchange at a time: a change whose handler sends nothing (its
    // value needs no command any more) lets the next one go at once.
    while (!waiting_.empty() && Trans_chk()) {
        auto send = std::move(waiting_.front().send);
        waiting_.pop_front();
        try {
            send();
        } catch (const std::exception& e) {
            host_.ShowException(e);
        }
    }
}

void Link::OnNakSent() {
    ++nakCount_;
    // A NAK for noise while no exchange of ours is open opens nothing.
    if (!linkBusy_ || mode_ == LinkMode::Connecting) return;
    if (nakCount_ < kMaxNaksPerExchange) {
        // The camera is expected to send its reply again: the watch starts afresh.
        replyTimer_ = kReplyTicks;
        retryCount_ = kReplyRetries;
        return;
    }
    // Every reply to this exchange fails its check: end it, and do not
    // repeat the frame to a camera that answers only with bad frames.
    GiveUp();
    replyTimer_ = -1;
}

void Link::ReportNoise() {
    if (!noiseShown_) {
        noiseShown_ = true;
        host_.ShowMessage(kMsgRecvErr, kCapRecvErr);
        return;
    }
    // Once per burst: the repeats until the next good frame are only counted.
    ++noiseRepeats_;
    host_.NoiseRepeated(noiseRepeats_);
}

void Link::GiveUp() {
    writeFailed_ = false;
    host_.ShowMessage(kMsgNotConnected, kCapNotConnected);
    linkBusy_ = false;
    host_.EnablePageControl(true);
    Cursor_set(0);
    recvState_ = 0;
    if (comm_.IsOpen()) comm_.WakeAfter(1);
    mode_ = LinkMode::Idle;
    host_.ReplyGivenUp();
}

bool ReplyAnswers(const FrameBytes& command, bool block, const FrameBytes& reply) {
    if (block) return reply[2] == kBlockTag;
    // The camera's request to read the page again answers whatever was sent.
    if (reply[2] == kItemReloadRequest) return true;
    if (reply[2] != command[2]) return false;
    // An error status may come without the command's parameters, and a
    // write may be answered with its item alone.
    if (reply[1] != kStatusAccepted && reply[1] != kStatusRefused) return true;
    if (command[1] == kGroupWrite &&
        std::all_of(reply.begin() + 3, reply.begin() + 1 + kPayloadSize, [](std::uint8_t b) { return b == 0; })) {
        return true;
    }
    switch (command[2]) {
        // A memory word's reply names its address; a copy follows the
        // address the reply names and asks again for a word it skipped.
        case kItemRegister: case kItemRegisterOnly:  // the register
        case kItemBlock:                             // the block
        case kItemDefect:                            // the piece, the search or the slot command
        case kItemTitle: case kItemBlc: case kItemAgc: case kItemWhiteBalance: case kItemSync:
        case kItemPicture: case kItemZoom: case kItemUse: case kItemMotion:  // the sub-item
            return reply[3] == command[3];
        default:
            return true;
    }
}

bool Link::AnswersFrameInFlight() const { return ReplyAnswers(cmdFrame_, lastWasBlock_, recvFrame_); }

void Link::DropStaleReply() {
    ++staleReplies_;
    host_.StaleReplyDropped(staleReplies_);
}

void Link::Dispatch(std::uint8_t byte) {
    const int event = r_data(byte);
    if (event >= 0) OnEvent(event);
}

void Link::OnEvent(int event) {
    switch (mode_) {
        case LinkMode::Connecting:
        case LinkMode::Lost:
            if (event == ACK) {
                SendControl(EOT);
                Cursor_set(0);
                mode_ = LinkMode::Idle;
                linkBusy_ = false;
                replyTimer_ = -1;
                everConnected_ = true;
                host_.LineStateChanged(LineState::Connected);
                ReLoadClick();
                host_.EnablePageControl(true);
            }
            break;
        case LinkMode::Idle:
            if (event == ETX) {
                if (linkBusy_ && !lastWasBlock_ && AnswersFrameInFlight()) {
                    // The reply to the frame in flight, intact, whose ACK was
                    // lost on the line: the exchange has been answered.
                    mode_ = LinkMode::AwaitReply;
                    OnEvent(ETX);
                } else {
                    DropStaleReply();  // a late copy of an earlier reply
                }
                break;
            }
            if (event != ACK) break;
            // An ACK counts only while a frame of ours awaits it: the exchange
            // is open, or the reply watch still repeats its frame after giving
            // up. Otherwise it is noise (a garbled start byte, say).
            if (!linkBusy_ && replyTimer_ == -1) break;
            if (cmdFrame_[0] == STX && cmdFrame_[1] == 0x21 && cmdFrame_[2] == 0x20) {
                // A preset ends with the camera's ACK; the settings are read again later.
                Cursor_set(0);
                mode_ = LinkMode::Idle;
                linkBusy_ = false;
                replyTimer_ = -1;
                host_.EnablePageControl(true);
                Cursor_set(1);
                host_.EnableTimer(LinkTimer::Reload, true);
            } else if (cmdFrame_[0] == STX && cmdFrame_[1] == 0xF1) {
                // So does a reset, which also ends a copy to the camera.
                Cursor_set(0);
                mode_ = LinkMode::Idle;
                linkBusy_ = false;
                host_.CloseCopyFile();
                host_.EnablePageControl(true);
                replyTimer_ = -1;
                if (host_.ReadAgainAfterReset()) {
                    Cursor_set(1);
                    host_.EnableTimer(LinkTimer::Reload, true);
                }
            } else {
                mode_ = LinkMode::AwaitReply;
            }
            break;
        case LinkMode::AwaitReply:
            // The camera answers every frame with ACK and then its reply
            // frame: a second ACK (a stray one from line noise, say) is not
            // the reply, and taking it so would read an old frame.
            if (event != ETX) break;
            // Only the frame in flight's own reply ends it: a late copy of
            // an earlier one (the same item, another sub-item) is dropped.
            if (!AnswersFrameInFlight()) {
                DropStaleReply();
                break;
            }
            // Acknowledged in the same write as the command this reply leads
            // to, or at the end of the reaction when none follows.
            ackPending_ = true;
            replyTimer_ = -1;
            mode_ = LinkMode::Idle;
            Cursor_set(0);
            linkBusy_ = false;
            host_.ExchangeDone();
            {
                const int step = host_.LoadStep();
                host_.Trans_end();
                const int after = host_.LoadStep();
                if (after != 0 && after == step) host_.Trans_init(after);
            }
            break;
    }
}

// ---- control ----------------------------------------------------------------------------

void Link::Trans_Create() {
    host_.LineStateChanged(LineState::Connecting);
    try {
        CnctDataLink(1, kLinkBaud);
    } catch (const ECommError& e) {
        host_.ShowException(e);
        return;  // the connection attempts go on from SendTimer
    }
    IdEnq();
}

void Link::CnctDataLink(std::uint8_t port, std::int32_t baud) {
    ackPending_ = false;
    comm_.Close();
    ClearInbox();
    comm_.SetBaudRate(baud);
    comm_.SetPort(port);
    comm_.Open();
    sendTimerOn_ = true;
    host_.EnableTimer(LinkTimer::Send, true);
}

bool Link::Trans_chk() const {
    return host_.LoadStep() == 0 && !linkBusy_ && mode_ != LinkMode::Lost && !host_.DefectLock() &&
           !host_.LoadGuard();
}

void Link::ReLoadClick() {
    if (DR_check()) {
        host_.Trans_init(0);
    } else {
        host_.ShowMessage(kMsgDrOff, kCapDrOff);
    }
}

void Link::Lock_on() {
    host_.ResetLockChanged(true);
    panelLock_ = true;
}

void Link::Lock_off() {
    host_.ResetLockChanged(false);
    panelLock_ = false;
}

void Link::Cursor_set(int cursor) {
    if (cursor != 0) {
        // A command that follows a reply at once keeps the link busy: the
        // pending return to rest is called off, and the host hears nothing.
        if (cursorPending_) {
            cursorPending_ = false;
            if (cursorTimerOn_) {
                cursorTimerOn_ = false;
                host_.EnableTimer(LinkTimer::Cursor, false);
            }
        }
        if (!busyShown_) {
            busyShown_ = true;
            host_.BusyChanged(true);
        }
    } else if (busyShown_ && !cursorPending_) {
        cursorPending_ = true;
        // Inside the reply dispatcher the timer starts once the reaction is
        // over: a reply that leads to the next command (a copy's, a page
        // read's) starts and stops nothing.
        if (!dispatching_) StartCursorTimer();
    }
}

std::string Link::CommandText() const {
    return HexBytesText(std::span<const std::uint8_t>(cmdFrame_.data() + 1, kPayloadSize));
}

std::string Link::ReplyText() const {
    return HexBytesText(std::span<const std::uint8_t>(recvFrame_.data() + 1, kPayloadSize));
}

void Link::Close() {
    // The last reply's ACK is not held back: the port drains it on closing.
    if (comm_.IsOpen()) FlushAck();
    ackPending_ = false;
    comm_.Close();
    ClearInbox();
}

void Link::EnterLost() {
    mode_ = LinkMode::Lost;
    // Refused like a busy link: nothing goes out, and no box per click.
    linkBusy_ = true;
    replyTimer_ = -1;
    host_.LineStateChanged(LineState::Lost);
}

void Link::PortLost() {
    if (mode_ == LinkMode::Lost) return;
    // What the user asked for and the camera never got is said by name.
    std::vector<std::string> dropped = WaitingNames();
    DropWaiting();
    ackPending_ = false;  // nobody to hear it
    comm_.Close();
    ClearInbox();
    EnterLost();
    recvState_ = 0;
    Cursor_set(0);
    sendTimerOn_ = true;
    host_.EnableTimer(LinkTimer::Send, true);
    host_.EnablePageControl(true);
    // A chain, a copy or a table read that waited for an answer ends here.
    host_.ReplyGivenUp();
    if (!dropped.empty()) host_.ChangesDropped(dropped);
}

void Link::Reconnect() {
    DropWaiting();
    ackPending_ = false;
    comm_.Close();
    ClearInbox();
    linkBusy_ = false;
    replyTimer_ = -1;
    connectTry_ = 0;
    mode_ = LinkMode::Connecting;
    Trans_Create();
}

void Link::RetryLostPort() {
    if (!comm_.IsOpen()) {
        try {
            comm_.Open();  // the same device, as long as it is not back: silently
        } catch (const ECommError&) {
            return;
        }
        host_.LineStateChanged(LineState::Connecting);
    }
    const std::uint8_t enq = ENQ;
    try {
        WriteFrame(&enq, 1);
    } catch (const ECommError&) {
        comm_.Close();  // gone again before it answered
    }
}

void Link::UpdateSendTimer(bool mayStop) {
    // Ticks are needed to connect, to retry a lost device, to watch for an
    // answer, to write a frame again and to send what waits for the link.
    // Connecting at start ends with the third tick: the tool gives up.
    const bool need = mode_ == LinkMode::Connecting
                          ? everConnected_ || connectTry_ < 3
                          : mode_ == LinkMode::Lost || replyTimer_ != -1 || writeFailed_ || !waiting_.empty();
    // Started as soon as something waits; stopped only where `mayStop` says
    // a reaction is over (a tick, or a reply with whatever it led to), so a
    // run of exchanges does not start and stop it for each one.
    if (need == sendTimerOn_ || (!need && !mayStop)) return;
    sendTimerOn_ = need;
    host_.EnableTimer(LinkTimer::Send, need);
}

void Link::SendTimerTimer() {
    struct Update {
        Link& l;
        ~Update() { l.UpdateSendTimer(true); }
    } update{*this};
    if (dispatching_ || holds_ > 0) {
        // A box is up; the tick runs once it is over.
        RunOutsideDispatch(this, [this] { SendTimerTimer(); });
        return;
    }
    // Whatever the port was told to wait for, a tick takes what has come:
    // a frame cut short on the line holds nothing up past it.
    if (comm_.IsOpen()) comm_.WakeAfter(1);
    if (mode_ == LinkMode::Lost) {
        RetryLostPort();
        return;
    }
    if (mode_ == LinkMode::Connecting && everConnected_) {
        // Once connected, the tool never ends by itself: a port chosen
        // afresh that does not answer is retried like a lost one.
        if (++connectTry_ >= 3) {
            host_.ShowMessage(kMsgNotConnected, kCapNotConnected);
            EnterLost();
        } else {
            RetryLostPort();
        }
        return;
    }
    if (mode_ == LinkMode::Connecting) {
        comm_.Close();
        ++connectTry_;
        // Every opening asks again: a camera still powering up when the
        // first ENQ went out is found by the next one.
        if (connectTry_ == 1 || connectTry_ == 2) {
            CnctDataLink(static_cast<std::uint8_t>(connectTry_), kLinkBaud);
            try {
                IdEnq();
            } catch (const ECommError&) {
                // Not taken: the next opening asks again.
            }
        } else if (connectTry_ >= 3) {
            sendTimerOn_ = false;
            host_.EnableTimer(LinkTimer::Send, false);
            host_.ShowMessage(kMsgNotConnected, kCapNotConnected);
            host_.Terminate();
        }
        return;
    }
    if (writeFailed_ && linkBusy_) {
        RewriteFailedFrame();
        return;
    }
    if (replyTimer_ == -1) {
        SendWaiting();
        return;
    }
    --replyTimer_;
    if (replyTimer_ != -1) {
        SendWaiting();  // the watch still repeats a given-up frame; the link is free
        return;
    }
    --retryCount_;
    if (retryCount_ == 0) GiveUp();
    // The re-sent frame needs its own ACK before a reply can count: without
    // this, the ACK to the re-send would be taken for the lost reply.
    mode_ = LinkMode::Idle;
    // A reply cut short on the line is dead by now: the re-send's answer
    // starts afresh rather than being read as its continuation.
    recvState_ = 0;
    // Armed before the write: a re-send that raises is one more late answer.
    replyTimer_ = lastWasBlock_ ? kBlockReplyTicks : kReplyTicks;
    try {
        WriteLastFrame();
    } catch (const ECommError& e) {
        // Shown once for the exchange; the give-up message tells the rest.
        if (!writeErrorShown_) {
            writeErrorShown_ = true;
            host_.ShowException(e);
        }
        if (linkBusy_) writeFailed_ = true;
    }
}

void Link::RewriteFailedFrame() {
    try {
        WriteLastFrame();
    } catch (const ECommError&) {
        // Shown once by the sender; after the bound the exchange ends with
        // the give-up message, as for an answer that never comes.
        if (++writeRetries_ >= kMaxWriteRetries) {
            GiveUp();
            replyTimer_ = -1;
        }
        return;
    }
    writeFailed_ = false;
    replyTimer_ = lastWasBlock_ ? kBlockReplyTicks : kReplyTicks;
}

void Link::ReloadTimerTimer() {
    host_.EnableTimer(LinkTimer::Reload, false);
    ReLoadClick();
}

void Link::StartCursorTimer() {
    if (!cursorPending_ || cursorTimerOn_) return;
    cursorTimerOn_ = true;
    host_.EnableTimer(LinkTimer::Cursor, true);
}

void Link::cursor_timerTimer() {
    host_.EnableTimer(LinkTimer::Cursor, false);
    cursorTimerOn_ = false;
    cursorPending_ = false;
    if (!busyShown_) return;
    busyShown_ = false;
    host_.BusyChanged(false);
}

}  // namespace tern::link
