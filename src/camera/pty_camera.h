// The virtual camera on a pseudo-terminal. The tool opens DevicePath() as it
// would open a serial port; one thread answers on the master side.
//
// The terminal settings stay as the kernel made them: on a pseudo-terminal
// both ends share one set, so a camera that made the line raw would hide a
// tool that does not. Nor does the camera hold the slave open: a tool that
// opens its port exclusively must find it free.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "camera/options.h"
#include "camera/peer.h"
#include "link/trace.h"

namespace tern::camera {

struct CameraStats {
    std::uint64_t framesReceived = 0;
    std::uint64_t repliesSent = 0;
    std::uint64_t naksReceived = 0;
    std::uint64_t naksSent = 0;
    std::uint64_t bytesIn = 0;
    std::uint64_t bytesOut = 0;
    /// Times the camera's thread woke up: once for each burst of bytes and
    /// each tool opening or closing the device, never while no tool is there.
    std::uint64_t wakeups = 0;
};

class PtyCamera {
public:
    explicit PtyCamera(CameraOptions options = {});
    ~PtyCamera();
    PtyCamera(const PtyCamera&) = delete;
    PtyCamera& operator=(const PtyCamera&) = delete;

    /// Opens the pseudo-terminal and starts answering. Throws
    /// std::runtime_error with the reason when no pseudo-terminal can be had.
    void Start();
    /// Stops answering, closes the device and removes the link made to it.
    /// Idempotent; the destructor calls it.
    void Stop();
    /// The cable is pulled: the master side closes, the tool's port reports
    /// end of file or an I/O error. The device's name stays taken (opening it
    /// fails) until Stop, so no other pseudo-terminal gets it meanwhile; a
    /// link made to the device stays.
    void HangUp();
    bool Running() const { return thread_.joinable(); }

    /// The slave device the tool opens, e.g. /dev/pts/3; empty before Start.
    const std::string& DevicePath() const { return devicePath_; }
    /// A symbolic link to the device; an existing symbolic link at that path
    /// is replaced, any other file is left alone (false).
    bool MakeLink(const std::string& linkPath);

    template <class F>
    auto WithModel(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::forward<F>(f)(peer_.Model());
    }
    PeerStats PeerStatistics() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return peer_.Stats();
    }
    CameraStats Stats() const;
    const CameraOptions& Options() const { return options_; }

private:
    void Run();
    void HandleInput(std::span<const std::uint8_t> bytes);
    std::vector<std::uint8_t> FeedPeer(std::span<const std::uint8_t> bytes);
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);
    bool WriteAll(std::span<const std::uint8_t> bytes);
    void Trace(link::TraceDirection direction, std::span<const std::uint8_t> bytes);
    /// No tool has the device open: waits for one to open it, or for Stop.
    /// False when Stop was asked for.
    bool WaitForTool();
    void EndThread();
    void CloseMaster();
    void HoldDevice();
    /// The cable pulled from the camera's side (hangUpAtReset).
    void Pull();

    CameraOptions options_;
    mutable std::mutex mutex_;  // guards peer_
    CameraPeer peer_;

    int master_ = -1;
    int heldDevice_ = -1;  ///< the slave, held open after a hang-up
    int wake_ = -1;  // eventfd that ends waits when Stop is asked for
    int opens_ = -1;  // inotify on the device: a tool opened it (-1: look every 20 ms)
    std::thread thread_;
    std::atomic<bool> stop_{false};
    bool pulled_ = false;  // the camera's thread only
    std::string devicePath_;
    std::string linkPath_;
    std::unique_ptr<link::LineTrace> trace_;
    std::chrono::steady_clock::time_point started_{};
    std::chrono::steady_clock::time_point rxSlot_{};
    std::chrono::steady_clock::time_point txSlot_{};

    std::atomic<std::uint64_t> framesReceived_{0};
    std::atomic<std::uint64_t> repliesSent_{0};
    std::atomic<std::uint64_t> naksReceived_{0};
    std::atomic<std::uint64_t> naksSent_{0};
    std::atomic<std::uint64_t> bytesIn_{0};
    std::atomic<std::uint64_t> bytesOut_{0};
    std::atomic<std::uint64_t> wakeups_{0};
};

}  // namespace tern::camera
