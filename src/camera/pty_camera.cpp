#include "camera/pty_camera.h"

#include "camera/command_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace tern::camera {

namespace {

/// While no tool holds the device open the master reports hang-up at once.
/// The thread then sleeps until the device is opened (inotify); where the
/// system offers no inotify, it looks again this often instead of spinning.
constexpr int kIdlePollMs = 20;

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

PtyCamera::PtyCamera(CameraOptions options) : options_(std::move(options)), peer_(options_) {}

PtyCamera::~PtyCamera() { Stop(); }

void PtyCamera::Start() {
    if (Running()) return;
    const int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0) throw SystemError("posix_openpt");
    char name[128] = {};
    if (fcntl(m, F_SETFD, FD_CLOEXEC) != 0 || grantpt(m) != 0 || unlockpt(m) != 0 ||
        ptsname_r(m, name, sizeof name) != 0) {
        const std::runtime_error e = SystemError("pseudo-terminal set-up");
        close(m);
        throw e;
    }
    // Non-blocking only so that a stalled tool cannot hold a write past Stop;
    // the line settings are not touched.
    if (fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK) != 0) {
        const std::runtime_error e = SystemError("fcntl O_NONBLOCK");
        close(m);
        throw e;
    }
    const int w = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w < 0) {
        const std::runtime_error e = SystemError("eventfd");
        close(m);
        throw e;
    }
    if (!options_.tracePath.empty()) {
        try {
            trace_ = std::make_unique<link::LineTrace>(options_.tracePath);
        } catch (...) {
            close(m);
            close(w);
            throw;
        }
    }
    // A tool opening the device is the event that ends an idle wait.
    opens_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (opens_ >= 0 && inotify_add_watch(opens_, name, IN_OPEN) < 0) {
        close(opens_);
        opens_ = -1;
    }
    master_ = m;
    wake_ = w;
    devicePath_ = name;
    started_ = std::chrono::steady_clock::now();
    rxSlot_ = txSlot_ = started_;
    stop_ = false;
    thread_ = std::thread(&PtyCamera::Run, this);
}

void PtyCamera::EndThread() {
    if (!thread_.joinable()) return;
    stop_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wake_, &one, sizeof one);
    thread_.join();
}

void PtyCamera::CloseMaster() {
    if (master_ >= 0) close(master_);
    if (wake_ >= 0) close(wake_);
    if (opens_ >= 0) close(opens_);
    master_ = wake_ = opens_ = -1;
    trace_.reset();
}

void PtyCamera::Pull() {
    // On the camera's thread: the master closes, and the loop waits on the
    // wake-up alone (a negative descriptor is skipped by poll) until Stop.
    HoldDevice();
    close(master_);
    master_ = -1;
}

void PtyCamera::HoldDevice() {
    // The device's number stays taken until Stop: a new pseudo-terminal
    // cannot take it over meanwhile, so a tool still trying this path (or a
    // link to it) never reaches another camera.
    if (heldDevice_ < 0 && !devicePath_.empty())
        heldDevice_ = open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

void PtyCamera::HangUp() {
    EndThread();
    HoldDevice();
    CloseMaster();
}

void PtyCamera::Stop() {
    EndThread();
    CloseMaster();
    if (heldDevice_ >= 0) close(heldDevice_);
    heldDevice_ = -1;
    if (!linkPath_.empty()) {
        char target[PATH_MAX];
        const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == devicePath_) unlink(linkPath_.c_str());
        linkPath_.clear();
    }
}

bool PtyCamera::MakeLink(const std::string& linkPath) {
    if (devicePath_.empty() || linkPath.empty()) return false;
    struct stat st {};
    if (lstat(linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode) || unlink(linkPath.c_str()) != 0) return false;
    }
    if (symlink(devicePath_.c_str(), linkPath.c_str()) != 0) return false;
    linkPath_ = linkPath;
    return true;
}

CameraStats PtyCamera::Stats() const {
    return CameraStats{framesReceived_.load(), repliesSent_.load(), naksReceived_.load(), naksSent_.load(),
                       bytesIn_.load(),        bytesOut_.load(),    wakeups_.load()};
}

void PtyCamera::Run() {
    std::array<std::uint8_t, 4096> buf{};
    while (!stop_.load()) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        ++wakeups_;
        if (fds[1].revents != 0) break;
        const short ev = fds[0].revents;
        if (ev & POLLIN) {
            const ssize_t n = read(master_, buf.data(), buf.size());
            if (n > 0) {
                HandleInput(std::span<const std::uint8_t>(buf.data(), static_cast<std::size_t>(n)));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        }
        // No tool has the device open (hang-up, or EIO on read).
        if (ev != 0 && !WaitForTool()) break;
    }
}

bool PtyCamera::WaitForTool() {
    if (opens_ < 0) {
        pollfd w{wake_, POLLIN, 0};
        return poll(&w, 1, kIdlePollMs) <= 0;
    }
    // Forget the opens seen so far, then look at the master once more: a tool
    // that opened before this look is found by it, one that opens after it
    // leaves an event behind. So no opening is missed and nothing spins.
    std::array<char, 4096> events;
    while (read(opens_, events.data(), events.size()) > 0) {
    }
    pollfd m{master_, POLLIN, 0};
    const int r = poll(&m, 1, 0);
    if (r == 0 || (r > 0 && (m.revents & (POLLHUP | POLLERR)) == 0)) return true;
    for (;;) {
        pollfd fds[2] = {{opens_, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        ++wakeups_;
        if (fds[1].revents != 0) return false;
        return true;  // opened: the main loop reads the master again
    }
}

std::vector<std::uint8_t> PtyCamera::FeedPeer(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> out;
    PeerStats s;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        out = peer_.Feed(bytes);
        s = peer_.Stats();
        pulled_ = peer_.HungUp();
    }
    framesReceived_ = s.framesReceived;
    repliesSent_ = s.repliesSent + s.repliesResent;
    naksReceived_ = s.naksReceived;
    naksSent_ = s.naksSent;
    return out;
}

void PtyCamera::HandleInput(std::span<const std::uint8_t> bytes) {
    bytesIn_ += bytes.size();
    Trace(link::TraceDirection::ToCamera, bytes);
    if (options_.baud <= 0) {
        const std::vector<std::uint8_t> out = FeedPeer(bytes);
        if (pulled_) return Pull();
        if (!out.empty()) {
            Trace(link::TraceDirection::FromCamera, out);
            WriteAll(out);
        }
        return;
    }
    // Ten bit times a byte: a byte that arrived in a burst is handled when
    // the line would have delivered it, and every byte sent takes its slot.
    using namespace std::chrono;
    const auto byteTime = duration_cast<steady_clock::duration>(nanoseconds(10'000'000'000LL / options_.baud));
    rxSlot_ = std::max(steady_clock::now(), rxSlot_);
    for (std::uint8_t b : bytes) {
        rxSlot_ += byteTime;
        if (!WaitUntil(rxSlot_)) return;
        const std::vector<std::uint8_t> out = FeedPeer(std::span<const std::uint8_t>(&b, 1));
        if (pulled_) return Pull();
        // Slots follow each other from the start of the burst, so a late
        // wake-up does not stretch the ones after it.
        if (!out.empty()) txSlot_ = std::max(steady_clock::now(), txSlot_);
        for (std::uint8_t o : out) {
            txSlot_ += byteTime;
            if (!WaitUntil(txSlot_)) return;
            Trace(link::TraceDirection::FromCamera, std::span<const std::uint8_t>(&o, 1));
            if (!WriteAll(std::span<const std::uint8_t>(&o, 1))) return;
        }
    }
}

bool PtyCamera::WaitUntil(std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    while (!stop_.load()) {
        const auto left = deadline - steady_clock::now();
        if (left <= steady_clock::duration::zero()) return true;
        const auto ns = duration_cast<nanoseconds>(left).count();
        const timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        pollfd w{wake_, POLLIN, 0};
        if (ppoll(&w, 1, &ts, nullptr) > 0) return false;
    }
    return false;
}

bool PtyCamera::WriteAll(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            bytesOut_ += static_cast<std::uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            // The tool is not reading; wait for room, or for Stop.
            pollfd fds[2] = {{master_, POLLOUT, 0}, {wake_, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR) return true;
            if (fds[1].revents != 0) return false;
            if ((fds[0].revents & POLLOUT) == 0 && (fds[0].revents & (POLLHUP | POLLERR)) != 0) return true;
            continue;
        }
        return true;  // the tool has gone; what it did not take is lost, as on a real line
    }
    return true;
}

void PtyCamera::Trace(link::TraceDirection direction, std::span<const std::uint8_t> bytes) {
    if (trace_) trace_->Record(direction, bytes.data(), bytes.size());
}

// ---- options ------------------------------------------------------------------

namespace {

/// Decimal, or hexadecimal after 0x.
std::optional<long> Number(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    long value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value, hex ? 16 : 10);
    if (first == last || ec != std::errc() || ptr != last) return std::nullopt;
    return value;
}

/// An item code: one or two hexadecimal digits, 0x allowed.
std::optional<std::uint8_t> Item(std::string text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
    if (text.empty() || text.size() > 2) return std::nullopt;
    unsigned value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

std::vector<std::string> Split(const std::string& text, char by) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        const auto at = text.find(by, from);
        parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return parts;
        from = at + 1;
    }
}

/// --defect X,Y[,fix][,rev]: a pixel the search finds, with the switches it reports.
/// --slot L:X,Y[,fix][,rev][,off]: slot L ("A".."O") of the table at start.
bool Defect(const std::string& name, const std::string& text, CameraOptions& options, std::string& error) {
    const bool slot = name == "--slot";
    std::string rest = text;
    int letter = 0;
    if (slot) {
        const auto colon = text.find(':');
        const std::string l = text.substr(0, colon);
        if (colon == std::string::npos || l.size() != 1 || std::toupper(static_cast<unsigned char>(l[0])) < 'A' ||
            std::toupper(static_cast<unsigned char>(l[0])) > 'O') {
            error = "--slot: expected L:X,Y with a slot letter from A to O, got '" + text + "'";
            return false;
        }
        letter = std::toupper(static_cast<unsigned char>(l[0])) - 'A';
        rest = text.substr(colon + 1);
    }
    const std::vector<std::string> parts = Split(rest, ',');
    const auto x = parts.size() >= 2 ? Number(parts[0]) : std::nullopt;
    const auto y = parts.size() >= 2 ? Number(parts[1]) : std::nullopt;
    bool fix = false, rev = false, off = false;
    bool flagsOk = true;
    for (std::size_t k = 2; k < parts.size(); ++k) {
        if (parts[k] == "fix") {
            fix = true;
        } else if (parts[k] == "rev") {
            rev = true;
        } else if (parts[k] == "off" && slot) {
            off = true;
        } else {
            flagsOk = false;
        }
    }
    if (!x || !y || *x < 0 || *x > 1023 || *y < 0 || *y > 511 || !flagsOk) {
        error = name + ": expected " + (slot ? "L:" : "") + "X,Y with X from 0 to 1023 and Y from 0 to 511, got '" +
                text + "'";
        return false;
    }
    const auto ux = static_cast<std::uint16_t>(*x);
    const auto uy = static_cast<std::uint16_t>(*y);
    if (slot) {
        options.table.push_back(StoredDefect{letter, ux, uy, !off, fix, rev});
    } else {
        options.defects.push_back(DefectPixel{ux, uy, fix, rev});
    }
    return true;
}

}  // namespace

void AddCameraOptions(CLI::App& app, CameraOptions& o, const std::string& group, bool withTrace) {
    const auto inGroup = [&](CLI::Option* opt) { return opt->group(group); };
    // A count within 0..max: the same words for every such option.
    const auto count = [&](const std::string& name, long max, int& into, const std::string& help) {
        inGroup(app.add_option_function<std::string>(
                       name, [&into](const std::string& text) { into = static_cast<int>(*Number(text)); }, help)
                    ->option_text(max == 5 ? "P" : "N")
                    ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                    ->check(CLI::Validator(
                        [max](std::string& text) {
                            const auto n = Number(text);
                            if (n && *n >= 0 && *n <= max) return std::string();
                            return "expected a number from 0 to " + std::to_string(max) + ", got '" + text + "'";
                        },
                        "")));
    };
    const auto items = [&](const std::string& name, std::vector<std::uint8_t>& into, const std::string& help) {
        inGroup(app.add_option_function<std::vector<std::string>>(
                       name,
                       [&into](const std::vector<std::string>& texts) {
                           for (const std::string& t : texts) into.push_back(*Item(t));
                       },
                       help)
                    ->option_text("ITEM")
                    ->expected(1)
                    ->allow_extra_args(false)
                    ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                    ->check(CLI::Validator(
                        [](std::string& text) {
                            if (Item(text)) return std::string();
                            return "expected an item code in hexadecimal (00 to FF), got '" + text + "'";
                        },
                        "")));
    };
    const auto defects = [&](const std::string& name, const std::string& typeName, const std::string& help) {
        inGroup(app.add_option_function<std::vector<std::string>>(
                       name,
                       [&o, name](const std::vector<std::string>& texts) {
                           std::string unused;
                           for (const std::string& t : texts) Defect(name, t, o, unused);
                       },
                       help)
                    ->option_text(typeName)
                    ->expected(1)
                    ->allow_extra_args(false)
                    ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                    ->check(CLI::Validator(
                        [name](std::string& text) {
                            CameraOptions scratch;
                            std::string error;
                            if (Defect(name, text, scratch, error)) return std::string();
                            // The option's name is put in front of the reason by the parser.
                            return error.substr(name.size() + 2);
                        },
                        "")));
    };
    count("--baud", 4'000'000, o.baud, "pace the line at N bits per second (default 0: as fast as it goes)");
    count("--corrupt-every", 1'000'000'000, o.corruptEvery, "send every Nth reply frame with a wrong check code");
    count("--drop-every", 1'000'000'000, o.dropEvery, "leave out every Nth reply frame; its ACK still goes");
    // Frames counted from 1: each option repeatable.
    const auto frames = [&](const std::string& name, std::vector<std::uint64_t>& into, const std::string& help) {
        inGroup(app.add_option_function<std::vector<std::string>>(
                       name,
                       [&into](const std::vector<std::string>& texts) {
                           for (const std::string& t : texts) into.push_back(static_cast<std::uint64_t>(*Number(t)));
                       },
                       help)
                    ->option_text("N")
                    ->expected(1)
                    ->allow_extra_args(false)
                    ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                    ->check(CLI::Validator(
                        [](std::string& text) {
                            const auto n = Number(text);
                            if (n && *n >= 0 && *n <= 1'000'000'000) return std::string();
                            return "expected a number from 0 to 1000000000, got '" + text + "'";
                        },
                        "")));
    };
    frames("--nak-frame", o.nakFrames, "answer the Nth command frame with NAK, as if it came damaged (repeatable)");
    frames("--corrupt-reply", o.corruptReplies, "send the Nth reply frame with a wrong check code (repeatable)");
    frames("--drop-ack", o.dropAcks, "leave out the ACK of the Nth command frame; its reply still goes (repeatable)");
    inGroup(app.add_flag("--corrupt-all", o.corruptAll,
                         "send every reply frame, and every copy sent again, with a wrong check code")
                ->disable_flag_override());
    items("--refuse", o.refuseItems, "refuse commands for item ITEM (hex) with status A8; repeatable");
    items("--error", o.errorItems, "answer commands for item ITEM (hex) with status E0; repeatable");
    inGroup(app.add_flag("--hi-res{true},--lo-res{false}", o.highResolution, "sensor resolution (default high)")
                ->disable_flag_override());
    inGroup(app.add_flag("--pal{true},--ntsc{false}", o.pal, "TV standard (default NTSC)")->disable_flag_override());
    if (withTrace) {
        inGroup(AddNamedValue(app, "--trace", o.tracePath, "file", "FILE",
                              "write every byte each way to FILE, with a timestamp, and each frame decoded in words"));
    }
    defects("--defect", "X,Y[,fix][,rev]",
            "a defective pixel the automatic search finds, with the switches it reports; repeatable");
    defects("--slot", "L:X,Y[,fix][,rev][,off]",
            "slot L (A to O) of the defect table at start, enabled unless off; repeatable");
    count("--fail-piece", 5, o.failPiece, "answer the read of defect-table piece P (0 to 5) with status E0");
    inGroup(app.add_flag("--hang-up-at-reset", o.hangUpAtReset,
                         "close the line as a reset command arrives, without resetting (a cable pulled then)")
                ->disable_flag_override());
}

bool ParseCameraArgs(const std::vector<std::string>& args, CameraOptions& options, std::string& error) {
    CLI::App app("the virtual camera");
    app.set_help_flag();
    AddCameraOptions(app, options);
    const ParseOutcome outcome = ParseCommandLine(app, args, "camera option");
    error = outcome.error;
    return outcome.error.empty();
}

std::string CameraOptionsUsage(bool withTrace) {
    CLI::App app;
    app.set_help_flag();
    CameraOptions scratch;
    AddCameraOptions(app, scratch, "camera", withTrace);
    std::string text = UsePlainHelp(app)->make_groups(&app, CLI::AppFormatMode::Normal);
    // Only the option lines: the group's heading is the caller's.
    const std::size_t heading = text.find("camera:\n");
    if (heading != std::string::npos) text.erase(0, heading + 8);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text + "\n";
}

}  // namespace tern::camera
