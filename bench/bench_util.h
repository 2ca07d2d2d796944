// Small pieces the window benchmarks share: running again on a virtual X
// display when there is none, medians, the resident memory of a process, a
// port stand-in that takes every write, and the virtual camera's model
// answering a command frame as it would on the wire.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "camera/model.h"
#include "link/codec.h"
#include "link/comm.h"
#include "link/protocol.h"

namespace tern::bench {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

/// Runs a shell command; its wall seconds, or -1 when it did not exit 0.
inline double TimedCommand(const std::string& command) {
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double s = Seconds(Clock::now() - start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1.0;
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}
inline double Min(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }
inline double Max(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); }

/// The window is to be shown for real: with no X display, runs this program
/// again under xvfb-run (returns only when that cannot be done, with 1).
inline int RunOnXDisplay(int argc, char** argv, const char* name) {
    if (std::getenv("DISPLAY") != nullptr || std::getenv("TERN_BENCH_UNDER_XVFB") != nullptr) {
        unsetenv("QT_QPA_PLATFORM");
        return 0;
    }
    setenv("TERN_BENCH_UNDER_XVFB", "1", 1);
    std::vector<char*> args{const_cast<char*>("xvfb-run"), const_cast<char*>("-a")};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("xvfb-run", args.data());
    std::fprintf(stderr, "%s: ", name);
    std::perror("xvfb-run");
    return 1;
}

inline long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

/// A port that is always there and takes every write; the benchmark plays
/// the camera by handing reply bytes to the receive dispatcher.
class NullPort : public link::CommPort {
public:
    void SetPort(std::uint8_t) override {}
    void SetBaudRate(std::int32_t) override {}
    void Open() override { open_ = true; }
    void Close() override { open_ = false; }
    void Write(const void*, std::uint32_t count) override { written += count; }
    std::uint32_t Read(void*, std::uint32_t) override { return 0; }
    bool DsrState() const override { return open_; }
    bool IsOpen() const override { return open_; }
    std::uint64_t written = 0;

private:
    bool open_ = false;
};

/// What the camera puts on the wire for the command frame `cmd`: its ACK
/// and, unless the command ends with the ACK, the reply frame.
inline Bytes AnswerOf(camera::CameraModel& model, const link::FrameBytes& cmd) {
    camera::Bytes15 p{};
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = cmd[1 + i];
    const camera::Answer a = model.Handle(p);
    Bytes out{link::ACK};
    if (!a.ackOnly) {
        link::Payload r;
        for (std::size_t i = 0; i < a.reply.size(); ++i) r[static_cast<int>(i) + 1] = a.reply[i];
        const link::FrameBytes f = link::BuildStxFrame(r, static_cast<int>(link::kPayloadSize));
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

}  // namespace tern::bench
