// What a virtual camera is built with: its sensor and TV standard, the
// defective pixels its search finds, the line speed it keeps to, the faults
// it plays for tests and demonstrations, and where it traces the line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tern::camera {

/// A defective CCD pixel that the camera's automatic search reports.
struct DefectPixel {
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    bool fix = false;
    bool rev = false;
    bool operator==(const DefectPixel&) const = default;
};

/// A correction the camera's defect table holds when it starts.
struct StoredDefect {
    int slot = 0;  ///< 0..14, "A".."O"
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    bool enabled = true;
    bool fix = false;
    bool rev = false;
    bool operator==(const StoredDefect&) const = default;
};

struct CameraOptions {
    bool highResolution = true;  ///< register 1 bit 14
    bool pal = false;            ///< register 0x40 bit 0
    /// Bits per second the line is paced at (10 bit times a byte, both
    /// directions); 0 answers as fast as the pseudo-terminal goes.
    int baud = 0;
    /// Every Nth reply frame goes out with a wrong check code (0: never).
    /// The frame sent again on the tool's NAK is the correct one.
    int corruptEvery = 0;
    /// Every Nth reply frame is not sent at all; its ACK still is (0: never).
    int dropEvery = 0;
    /// Reply frames (counted from 1, the dropped ones included) that are not
    /// sent at all; their ACK still is.
    std::vector<std::uint64_t> dropReplies;
    /// Command frames (counted from 1, good ones only) that the camera
    /// answers with NAK as if they had arrived damaged; they change nothing.
    std::vector<std::uint64_t> nakFrames;
    /// Reply frames (counted from 1) that go out with a wrong check code;
    /// the copy sent again on the tool's NAK is correct.
    std::vector<std::uint64_t> corruptReplies;
    /// Reply frames (counted from 1) of which only the first 10 bytes go
    /// out: the rest is lost on the line. The ACK is still sent.
    std::vector<std::uint64_t> cutReplies;
    /// Command frames (counted as nakFrames) whose ACK is lost on the line;
    /// their reply frame still goes out.
    std::vector<std::uint64_t> dropAcks;
    /// Every reply frame, the copies sent again on NAK included, goes out
    /// with a wrong check code (a line that damages everything the camera says).
    bool corruptAll = false;
    /// Commands whose item (payload byte 2) the camera refuses with 0xA8;
    /// item 0x73 is the block. The preset and reset commands, which end
    /// with the ACK alone, are never refused nor failed.
    std::vector<std::uint8_t> refuseItems;
    /// Commands whose item the camera answers with `errorStatus`.
    std::vector<std::uint8_t> errorItems;
    std::uint8_t errorStatus = 0xE0;
    /// File that gets every byte each way with a timestamp; empty: no trace.
    std::string tracePath;
    /// Pixels the automatic search finds, reported in raster order.
    std::vector<DefectPixel> defects;
    /// The defect table at start; the slots not named are empty.
    std::vector<StoredDefect> table;
    /// The defect-table piece (0..5) whose read the camera answers with
    /// `errorStatus`; -1: none.
    int failPiece = -1;
    /// The cable is pulled as a reset command arrives: the camera neither
    /// resets nor answers, and the tool's port reports the device gone.
    bool hangUpAtReset = false;
};

/// Adds the virtual camera's options to a command line, in `group` of its
/// help; without `withTrace` when the program's own --trace is the line's.
void AddCameraOptions(CLI::App& app, CameraOptions& options, const std::string& group = "Virtual camera options",
                      bool withTrace = true);

/// Reads the camera options from program arguments. On a bad value or an
/// unknown argument returns false with a text for the user in `error`;
/// `options` then holds what was read before it.
bool ParseCameraArgs(const std::vector<std::string>& args, CameraOptions& options, std::string& error);

/// One line per option, for a program's usage text.
/// Without `withTrace` when the program's own --trace is the line's.
std::string CameraOptionsUsage(bool withTrace = true);

}  // namespace tern::camera
