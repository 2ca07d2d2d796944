// The line trace: every byte on the wire with a monotonic timestamp and its
// direction, and each complete frame decoded in words, for a support request.
//
//     0.012345 tool>cam  02 31 0A 01 00 00 00 00 00 00 00 00 00 00 00 00 03 C1 7B
//     0.012345 tool>cam  = command: read (31), item 0A DSP register, register 01, check code C17B good
//
// Record only copies the bytes into a buffer under a short lock; a thread of
// the trace's own formats and writes them every 50 ms (or sooner when much is
// waiting), so the link never waits for the file nor wakes anyone per byte. The tool and the virtual camera write the same format, directions
// named after the wire (tool to camera, camera to tool) on both sides.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace tern::link {

enum class TraceDirection : std::uint8_t { ToCamera, FromCamera };

/// Turns the bytes of one direction into decoded lines, frame by frame.
/// Knows the frame shapes of that direction: the tool sends 19-byte command
/// frames and the 1029-byte block frame, the camera 19-byte replies and the
/// 6-byte short reply.
class TraceDecoder {
public:
    explicit TraceDecoder(TraceDirection direction) : direction_(direction) {}
    /// Feeds bytes; appends one line (without newline) for each control byte,
    /// complete frame, broken frame or stray byte they end.
    void Feed(std::span<const std::uint8_t> bytes, std::vector<std::string>& lines);

private:
    void Byte(std::uint8_t b, std::vector<std::string>& lines);
    std::string FrameText() const;

    TraceDirection direction_;
    std::vector<std::uint8_t> frame_;
    std::size_t expected_ = 0;  // the frame's whole length, 0 outside a frame
};

/// Words for one frame as it stands on the wire (start byte to check code).
std::string DescribeFrame(TraceDirection direction, std::span<const std::uint8_t> frame);

class LineTrace {
public:
    using Clock = std::chrono::steady_clock;

    /// Writes to `path`. A new file is created; an existing regular file is
    /// replaced only as a whole: the trace is written beside it and renamed
    /// over it when the trace is closed (a symbolic link is written through,
    /// beside its target). Throws std::runtime_error with the reason when the
    /// file cannot be created or `path` is not a regular file (a FIFO, a
    /// device such as the camera's port, a folder): nothing is opened then.
    explicit LineTrace(const std::string& path);
    /// Close(), its error dropped.
    ~LineTrace();
    LineTrace(const LineTrace&) = delete;
    LineTrace& operator=(const LineTrace&) = delete;

    /// Thread-safe and cheap: a timestamp, a lock and a copy.
    void Record(TraceDirection direction, const std::uint8_t* bytes, std::size_t count);
    /// Returns once everything recorded so far is in the file.
    void Flush();
    /// CPU seconds the writer thread has used (formatting and writing).
    double WriterCpuSeconds();
    /// Called once, on the writer's thread, when a write to the file first
    /// fails (a full disk); the trace writes nothing more after that.
    void OnWriteError(std::function<void(const std::string&)> handler);
    /// The first write error ("" while there is none).
    std::string WriteError();
    /// Writes what was recorded, closes the file and (for a replaced file)
    /// renames it into place. False with `error` set when any write failed;
    /// an existing file is then left as it was. Idempotent.
    bool Close(std::string& error);
    /// The file the trace is written to in the end.
    const std::string& Path() const { return target_; }

    /// The trace's text for one record; `seconds` since the trace began.
    /// Decoded lines follow the byte line.
    static std::string Format(double seconds, TraceDirection direction, std::span<const std::uint8_t> bytes,
                              TraceDecoder& decoder);
    static constexpr const char* kHeader =
        "# line trace: seconds since the trace began (monotonic clock), direction, bytes in hex;\n"
        "# lines with \"=\" decode the control byte or frame that the bytes above them complete\n";

private:
    struct Chunk {
        Clock::time_point at;
        TraceDirection direction;
        std::uint32_t offset;  // into bytes_
        std::uint32_t count;
    };
    void Run();

    void Failed(const std::string& why);

    std::FILE* file_ = nullptr;
    std::string target_;
    std::string tmp_;  ///< the file written beside an existing target; empty for a new file
    bool closed_ = false;
    std::string error_;  ///< guarded by mutex_
    std::function<void(const std::string&)> onError_;
    Clock::time_point started_;
    TraceDecoder toCamera_{TraceDirection::ToCamera};
    TraceDecoder fromCamera_{TraceDirection::FromCamera};

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::vector<Chunk> chunks_;
    std::vector<std::uint8_t> bytes_;
    static constexpr int kWriteEveryMs = 50;
    static constexpr std::size_t kWakeBytes = 64 * 1024;
    std::uint64_t recorded_ = 0;  // chunks recorded
    std::uint64_t flushTo_ = 0;   // Flush waits until this many are written
    std::uint64_t done_ = 0;      // chunks written
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace tern::link
