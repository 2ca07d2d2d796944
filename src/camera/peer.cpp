#include "camera/peer.h"

#include <algorithm>
#include <utility>

#include "link/codec.h"

namespace tern::camera {

namespace {

using link::ETX;
using link::SOH;
using link::STX;

std::size_t FullSize(std::uint8_t start) { return start == SOH ? link::kBlockFrameSize : link::kCmdFrameSize; }

/// ETX after the data and the check code over everything from byte 1 to the ETX.
bool CheckOk(const std::vector<std::uint8_t>& f) {
    const std::size_t n = f.size();
    if (f[n - 3] != ETX) return false;
    const std::uint16_t crc = link::Crc16(std::span<const std::uint8_t>(f.data() + 1, n - 3));
    return f[n - 2] == (crc >> 8) && f[n - 1] == (crc & 0xFF);
}

/// Whether the bytes so far can still be the start of a good frame.
bool Plausible(const std::vector<std::uint8_t>& f) {
    const std::size_t full = FullSize(f[0]);
    if (f[0] == SOH && f.size() > 1 && f[1] != link::kBlockTag) return false;
    if (f.size() > full - 3 && f[full - 3] != ETX) return false;
    if (f.size() == full) return CheckOk(f);
    return true;
}

}  // namespace

CameraPeer::CameraPeer(CameraOptions options) : options_(std::move(options)), model_(options_) {}

std::vector<std::uint8_t> CameraPeer::Feed(std::uint8_t byte) {
    std::vector<std::uint8_t> out;
    Consume(byte, out);
    return out;
}

std::vector<std::uint8_t> CameraPeer::Feed(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> out;
    for (std::uint8_t b : bytes) Consume(b, out);
    return out;
}

void CameraPeer::Consume(std::uint8_t byte, std::vector<std::uint8_t>& out) {
    if (!frame_.empty()) {
        frame_.push_back(byte);
        Advance(out);
        return;
    }
    switch (byte) {
    case link::ENQ:
        ++stats_.enqs;
        out.push_back(link::ACK);
        break;
    case link::NAK:
        // The tool's receiver found our reply damaged: the same frame again.
        ++stats_.naksReceived;
        if (!lastReply_.empty()) {
            out.insert(out.end(), lastReply_.begin(), lastReply_.end());
            if (options_.corruptAll) out.back() ^= 0xFF;
            ++stats_.repliesResent;
        }
        break;
    case STX:
    case SOH:
        frame_.assign(1, byte);
        speculative_ = false;
        break;
    default:  // EOT, the tool's ACK after a reply, line noise
        break;
    }
}

void CameraPeer::Advance(std::vector<std::uint8_t>& out) {
    while (!frame_.empty()) {
        if (speculative_) {
            if (!Plausible(frame_)) {
                Rescan();
                continue;
            }
        } else if (frame_[0] == SOH && frame_.size() > 1 && frame_[1] != link::kBlockTag) {
            Rescan();  // a stray SOH, not the start of a block
            continue;
        }
        if (frame_.size() < FullSize(frame_[0])) return;
        if (CheckOk(frame_)) {
            Process(out);
            frame_.clear();
            return;
        }
        out.push_back(link::NAK);
        ++stats_.naksSent;
        Rescan();
    }
}

void CameraPeer::Rescan() {
    const std::vector<std::uint8_t> rest(frame_.begin() + 1, frame_.end());
    frame_.clear();
    speculative_ = false;
    for (std::size_t k = 0; k < rest.size(); ++k) {
        if (rest[k] != STX && rest[k] != SOH) continue;
        std::vector<std::uint8_t> candidate(rest.begin() + static_cast<std::ptrdiff_t>(k), rest.end());
        if (Plausible(candidate)) {
            frame_ = std::move(candidate);
            speculative_ = true;
            return;
        }
    }
}

void CameraPeer::Process(std::vector<std::uint8_t>& out) {
    ++frameNumber_;
    if (std::find(options_.nakFrames.begin(), options_.nakFrames.end(), frameNumber_) != options_.nakFrames.end()) {
        out.push_back(link::NAK);  // taken for a damaged frame: nothing done
        ++stats_.naksSent;
        return;
    }
    ++stats_.framesReceived;
    if (options_.hangUpAtReset && frame_[0] == STX && frame_[1] == link::kGroupReset) {
        hungUp_ = true;
        return;
    }
    lastReply_.clear();
    Answer answer;
    if (frame_[0] == STX) {
        Bytes15 payload{};
        std::copy(frame_.begin() + 1, frame_.begin() + 1 + link::kPayloadSize, payload.begin());
        answer = model_.Handle(payload);
    } else {
        ++stats_.blocksReceived;
        answer = model_.HandleBlock(std::span<const std::uint8_t, link::kBlockDataSize>(frame_.data() + 2,
                                                                                      link::kBlockDataSize));
    }
    if (std::find(options_.dropAcks.begin(), options_.dropAcks.end(), frameNumber_) == options_.dropAcks.end()) {
        out.push_back(link::ACK);
    }
    if (!answer.ackOnly) SendReply(answer, out);
}

void CameraPeer::SendReply(const Answer& answer, std::vector<std::uint8_t>& out) {
    link::Payload p;
    for (std::size_t i = 0; i < answer.reply.size(); ++i) p[static_cast<int>(i + 1)] = answer.reply[i];
    const link::FrameBytes frame = link::BuildStxFrame(p, static_cast<int>(link::kPayloadSize));
    lastReply_.assign(frame.begin(), frame.end());
    ++replyNumber_;
    const bool muted = std::find(options_.dropReplies.begin(), options_.dropReplies.end(), replyNumber_) !=
                       options_.dropReplies.end();
    if (muted || (options_.dropEvery > 0 && replyNumber_ % static_cast<std::uint64_t>(options_.dropEvery) == 0)) {
        ++stats_.repliesDropped;
        return;
    }
    const std::size_t at = out.size();
    const bool cut =
        std::find(options_.cutReplies.begin(), options_.cutReplies.end(), replyNumber_) != options_.cutReplies.end();
    if (cut) {
        out.insert(out.end(), frame.begin(), frame.begin() + 10);
        ++stats_.repliesDropped;
        return;
    }
    out.insert(out.end(), frame.begin(), frame.end());
    ++stats_.repliesSent;
    const bool named = std::find(options_.corruptReplies.begin(), options_.corruptReplies.end(), replyNumber_) !=
                       options_.corruptReplies.end();
    if (named || options_.corruptAll || (options_.corruptEvery > 0 && replyNumber_ % static_cast<std::uint64_t>(options_.corruptEvery) == 0)) {
        out[at + link::kCmdFrameSize - 1] ^= 0xFF;
        ++stats_.repliesCorrupted;
    }
}

}  // namespace tern::camera
