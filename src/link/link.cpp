#include "link/link.h"

#include <algorithm>
#include <atomic>
#include <memory>

namespace tern::link {

Link::Link(CommPort& comm, LinkHost& host)
    : comm_(comm), host_(host) {}

// ---- sending ------------------------------------------------------------------

void Link::WriteFrame(const std::uint8_t* data, std::size_t count) {
    comm_.Write(data, static_cast<std::uint32_t>(count));
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
    Cursor_set(1);
    linkBusy_ = true;
    replyTimer_ = kReplyTicks;
    retryCount_ = kReplyRetries;
    nakCount_ = 0;
    WriteFrame(&code, 1);
    return 0;
}

void Link::SendControl(std::uint8_t code) {
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
    if (host_.ToolMode() != ToolMode::Kizu) {
        host_.SetStatusPanel(1, HexBytesText(std::span<const std::uint8_t>(cmdFrame_.data() + 1, kPayloadSize)));
    }
    try {
        WriteFrame(cmdFrame_.data(), cmdFrame_.size());
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
        host_.SetStatusPanel(1, "Busy");
        return;
    }
    host_.EnablePageControl(false);
    Cursor_set(1);
    std::array<std::uint8_t, kBlockDataSize> data{};
    for (std::size_t i = 0; i < kBlockDataSize; ++i) data[i] = static_cast<std::uint8_t>(image[i] & 0xFF);
    blockFrame_ = BuildBlockFrame(data);
    cmdFrame_[0] = SOH;
    lastWasBlock_ = true;
    BeginExchange(kBlockReplyTicks, kBlockReplyRetries);
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
    // One Read takes what the port reported; the dispatcher gets it whole.
    rxChunk_.resize(size);
    const std::uint32_t n = port.Read(rxChunk_.data(), size);
    if (n > 0) Comm1CommReceive(std::span<const std::uint8_t>(rxChunk_.data(), n));
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

void Link::Comm1CommReceive(std::span<const std::uint8_t> bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    if (dispatching_ || holds_ > 0) return;  // a box is up: wait
    dispatching_ = true;
    struct Done {
        Link& l;
        ~Done() { l.dispatching_ = false; }
    } done{*this};
    while (!pending_.empty()) {
        const std::uint8_t b = pending_.front();
        pending_.pop_front();
        ++bytesTaken_;
        try {
            Dispatch(b);
        } catch (const std::exception& e) {
            // A send refused inside the reaction (the next step of a chain,
            // say): shown, and the bytes behind it are still dispatched.
            host_.ShowException(e);
        }
    }
    dispatching_ = false;
    RunDeferred();
    SendWaiting();
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

void Link::SendWhenFree(const void* key, std::function<void()> send) {
    std::erase_if(waiting_, [key](const auto& w) { return w.first == key; });
    waiting_.emplace_back(key, std::move(send));
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
        auto send = std::move(waiting_.front().second);
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
    host_.SetStatusPanel(3, std::string(kMsgRecvErr) + " +" + std::to_string(noiseRepeats_));
}

void Link::GiveUp() {
    writeFailed_ = false;
    host_.ShowMessage(kMsgNotConnected, kCapNotConnected);
    linkBusy_ = false;
    host_.EnablePageControl(true);
    Cursor_set(0);
    recvState_ = 0;
    mode_ = LinkMode::Idle;
    host_.ReplyGivenUp();
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
            if (event == ETX && linkBusy_ && !lastWasBlock_ && recvFrame_[2] == cmdFrame_[2]) {
                // The reply to the frame in flight, intact, whose ACK was lost
                // on the line: the exchange has been answered and ends well.
                mode_ = LinkMode::AwaitReply;
                OnEvent(ETX);
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
                if (host_.ActivePage() != Page::Debug) {
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
            if (host_.ToolMode() != ToolMode::Kizu) {
                host_.SetStatusPanel(2, HexBytesText(std::span<const std::uint8_t>(recvFrame_.data() + 1, kPayloadSize)));
            } else {
                host_.SetStatusPanel(2, "");
            }
            SendControl(ACK);
            replyTimer_ = -1;
            mode_ = LinkMode::Idle;
            Cursor_set(0);
            linkBusy_ = false;
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
    host_.SetStatusPanel(0, kTextConnecting);
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
    comm_.Close();
    ClearInbox();
    comm_.SetBaudRate(baud);
    comm_.SetPort(port);
    comm_.Open();
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
    host_.EnablePanel4(false);
    panelLock_ = true;
}

void Link::Lock_off() {
    host_.EnablePanel4(true);
    panelLock_ = false;
}

void Link::Cursor_set(int cursor) {
    if (cursor != 0) {
        host_.SetScreenCursor(true);
    } else {
        host_.EnableTimer(LinkTimer::Cursor, true);
    }
}

void Link::Close() {
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
    DropWaiting();
    comm_.Close();
    ClearInbox();
    EnterLost();
    recvState_ = 0;
    Cursor_set(0);
    host_.EnableTimer(LinkTimer::Send, true);
    host_.EnablePageControl(true);
    // A chain, a copy or a table read that waited for an answer ends here.
    host_.ReplyGivenUp();
}

void Link::Reconnect() {
    DropWaiting();
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

void Link::SendTimerTimer() {
    if (dispatching_ || holds_ > 0) {
        // A box is up; the tick runs once it is over.
        RunOutsideDispatch(this, [this] { SendTimerTimer(); });
        return;
    }
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
        if (connectTry_ == 1) {
            CnctDataLink(1, kLinkBaud);
        } else if (connectTry_ == 2) {
            CnctDataLink(2, kLinkBaud);
        } else if (connectTry_ >= 3) {
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

void Link::cursor_timerTimer() {
    host_.EnableTimer(LinkTimer::Cursor, false);
    host_.SetScreenCursor(false);
}

}  // namespace tern::link
