// The camera's side of the line, bytes in and bytes out, no I/O:
//
//   tool                      camera
//   ENQ                  ->   ACK
//   EOT, ACK             ->   (nothing)
//   STX cmd frame (19)   ->   ACK, STX reply frame (19)   (ACK alone for 21 20 00, 21 20 01, F1)
//   SOH block (1029)     ->   ACK, STX reply frame
//   frame, bad check     ->   NAK
//   NAK                  ->   the last reply frame again, no new ACK
//
// Bytes outside a frame that are none of these are ignored. A frame that
// fails is searched for a later start byte, so the camera falls back into
// step on the next frame after garbage.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "camera/model.h"
#include "camera/options.h"

namespace tern::camera {

struct PeerStats {
    std::uint64_t enqs = 0;
    std::uint64_t framesReceived = 0;  ///< valid command frames and blocks
    std::uint64_t blocksReceived = 0;
    std::uint64_t naksSent = 0;        ///< frames that failed their check
    std::uint64_t naksReceived = 0;
    std::uint64_t repliesSent = 0;     ///< new reply frames that went out, corrupted ones included
    std::uint64_t repliesResent = 0;   ///< on the tool's NAK
    std::uint64_t repliesCorrupted = 0;
    std::uint64_t repliesDropped = 0;
};

class CameraPeer {
public:
    explicit CameraPeer(CameraOptions options = {});

    std::vector<std::uint8_t> Feed(std::uint8_t byte);
    std::vector<std::uint8_t> Feed(std::span<const std::uint8_t> bytes);

    CameraModel& Model() { return model_; }
    const CameraModel& Model() const { return model_; }
    const PeerStats& Stats() const { return stats_; }
    /// The last reply frame as built (uncorrupted); empty after a command
    /// that the camera ends with its ACK.
    const std::vector<std::uint8_t>& LastReply() const { return lastReply_; }
    /// A reset arrived under hangUpAtReset: the line is to be cut now.
    bool HungUp() const { return hungUp_; }

private:
    void Consume(std::uint8_t byte, std::vector<std::uint8_t>& out);
    void Advance(std::vector<std::uint8_t>& out);
    void Rescan();
    void Process(std::vector<std::uint8_t>& out);
    void SendReply(const Answer& answer, std::vector<std::uint8_t>& out);

    CameraOptions options_;
    CameraModel model_;
    std::vector<std::uint8_t> frame_;  // the frame being received, empty while idle
    bool speculative_ = false;         // frame_ starts inside bytes of a frame that failed
    std::vector<std::uint8_t> lastReply_;
    std::uint64_t replyNumber_ = 0;
    std::uint64_t frameNumber_ = 0;
    bool hungUp_ = false;
    PeerStats stats_;
};

}  // namespace tern::camera
