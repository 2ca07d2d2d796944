#include "link/trace.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "link/codec.h"
#include "link/protocol.h"

// The few calls Windows names otherwise (mingw-w64: files in binary mode;
// no links to follow; rename onto an existing file fails there).
#ifdef _WIN32
#include <windows.h>
namespace {
int lstat(const char* path, struct stat* st) { return ::stat(path, st); }
char* realpath(const char* path, char*) { return ::_fullpath(nullptr, path, 0); }
int fchmod(int, unsigned) { return 0; }
int ReplaceFile(const char* from, const char* to) {
    return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : (errno = EACCES, -1);
}
}  // namespace
#ifndef S_ISLNK
#define S_ISLNK(m) 0
#endif
#define O_NOFOLLOW 0
#define O_CLOEXEC O_BINARY
#else
namespace {
int ReplaceFile(const char* from, const char* to) { return ::rename(from, to); }
}  // namespace
#endif

namespace tern::link {

namespace {

const char* DirectionText(TraceDirection d) { return d == TraceDirection::ToCamera ? "tool>cam" : "cam>tool"; }

std::string Hex2(std::uint8_t b) { return HexByteText(b); }

const char* ControlName(std::uint8_t b, TraceDirection d) {
    switch (b) {
        case NUL: return "NUL";
        case EOT: return "EOT: connection accepted";
        case ENQ: return "ENQ: connection request";
        case ACK: return d == TraceDirection::ToCamera ? "ACK: reply received" : "ACK: accepted";
        case DC1: return "DC1";
        case NAK: return "NAK: check code wrong, send again";
        case SYN: return "SYN";
        default: return nullptr;
    }
}

const char* ItemName(std::uint8_t item) {
    switch (item) {
        case kItemRegister: return "DSP register";
        case kItemRegisterOnly: return "DSP register, not stored";
        case kItemMemory: return "memory word";
        case kItemOsd: return "OSD test data";
        case kItemMemoryRam: return "memory word and its register";
        case kItemTitle: return "title";
        case kItemSenseUp: return "sense-up";
        case kItemLens: return "lens";
        case kItemShutter: return "shutter";
        case kItemElc: return "ELC";
        case kItemBlc: return "BLC";
        case kItemBlcArea: return "BLC area";
        case kItemAgc: return "AGC";
        case kItemWhiteBalance: return "white balance";
        case kItemSync: return "sync";
        case kItemPicture: return "picture";
        case kItemSave: return "save";
        case kItemZoom: return "zoom";
        case kItemPreset: return "preset";
        case kItemReloadRequest: return "reload request";
        case kItemPeak: return "peak";
        case kItemAtwPreset: return "ATW preset";
        case kItemMenuKey: return "menu key";
        case kItemUse: return "use";
        case kItemDefect: return "defect";
        case kItemWriteBack: return "write-back";
        case kItemDelay: return "delay";
        case kItemPwmRef: return "PWM reference";
        case kItemBlock: return "block";
        case kItemLensRef: return "lens reference";
        case kItemMotion: return "motion";
        case kItemMotionArea: return "motion area";
        default: return nullptr;
    }
}

std::string Item(std::uint8_t item) {
    const char* name = ItemName(item);
    return "item " + Hex2(item) + (name ? std::string(" ") + name : std::string());
}

std::string Word(std::span<const std::uint8_t> f, std::size_t hi) { return HexWordText(static_cast<std::uint16_t>(f[hi] * 256 + f[hi + 1])); }

/// Data bytes from `from` to `to` (inclusive), trailing zeros left out.
std::string Data(std::span<const std::uint8_t> f, std::size_t from, std::size_t to) {
    while (to >= from && f[to] == 0) --to;
    if (to < from) return {};
    std::string s = ", data";
    for (std::size_t i = from; i <= to; ++i) s += " " + Hex2(f[i]);
    return s;
}

/// Item and what follows it: register or address, value, other data.
/// `base` is the offset of the item byte; `last` the last data offset.
std::string Body(std::span<const std::uint8_t> f, std::size_t base, std::size_t last, bool withValue) {
    const std::uint8_t item = f[base];
    std::string s = Item(item);
    switch (item) {
        case kItemRegister:
        case kItemRegisterOnly:
            s += ", register " + Hex2(f[base + 1]);
            if (withValue) s += ", value " + Word(f, base + 2);
            return s + Data(f, base + 4, last);
        case kItemMemory:
        case kItemMemoryRam:
            s += ", address " + Word(f, base + 1).substr(1);
            if (withValue) s += ", value " + Word(f, base + 3);
            return s + Data(f, base + 5, last);
        default:
            return s + Data(f, base + 1, last);
    }
}

std::string Check(std::span<const std::uint8_t> f) {
    const std::size_t n = f.size();
    const std::uint16_t sent = static_cast<std::uint16_t>(f[n - 2] * 256 + f[n - 1]);
    const std::uint16_t computed = Crc16(f.subspan(1, n - 3));
    std::string s = ", check code " + HexWordText(sent);
    if (sent == computed) return s + " good";
    return s + " bad (should be " + HexWordText(computed) + ")";
}

}  // namespace

std::string DescribeFrame(TraceDirection direction, std::span<const std::uint8_t> f) {
    const bool toCamera = direction == TraceDirection::ToCamera;
    if (f.size() == kBlockFrameSize) return "block frame: 1024 settings bytes" + Check(f);
    if (f.size() == kShortFrameSize) return "short reply: data " + Hex2(f[1]) + " " + Hex2(f[2]) + Check(f);
    if (f.size() != kCmdFrameSize) return "frame of " + std::to_string(f.size()) + " bytes";
    if (toCamera) {
        const std::uint8_t group = f[1];
        std::string s = "command: ";
        switch (group) {
            case kGroupWrite: s += "set (21), " + Body(f, 2, 15, true); break;
            case kGroupRead: s += "read (31), " + Body(f, 2, 15, false); break;
            case kGroupReset: s += "reset (F1)" + Data(f, 2, 15); break;
            default: s += "group " + Hex2(group) + Data(f, 2, 15); break;
        }
        return s + Check(f);
    }
    const std::uint8_t status = f[1];
    std::string s = "reply: status " + Hex2(status) +
                    (status == kStatusAccepted ? " accepted" : status == kStatusRefused ? " refused" : " error");
    return s + ", " + Body(f, 2, 15, true) + Check(f);
}

// ---- decoder ------------------------------------------------------------------

void TraceDecoder::Feed(std::span<const std::uint8_t> bytes, std::vector<std::string>& lines) {
    for (std::uint8_t b : bytes) Byte(b, lines);
}

void TraceDecoder::Byte(std::uint8_t b, std::vector<std::string>& lines) {
    if (expected_ == 0) {
        if (b == STX) {
            expected_ = kCmdFrameSize;
        } else if (b == SOH) {
            expected_ = direction_ == TraceDirection::ToCamera ? kBlockFrameSize : kShortFrameSize;
        } else if (const char* name = ControlName(b, direction_)) {
            lines.emplace_back(name);
            return;
        } else {
            lines.push_back("stray byte " + Hex2(b) + " outside a frame");
            return;
        }
        frame_.assign(1, b);
        return;
    }
    frame_.push_back(b);
    if (frame_.size() == expected_ - 2 && b != ETX) {
        lines.push_back("broken frame: " + Hex2(b) + " where ETX belongs after " + std::to_string(frame_.size() - 1) +
                        " bytes; frame dropped");
        frame_.clear();
        expected_ = 0;
        return;
    }
    if (frame_.size() == expected_) {
        lines.push_back(DescribeFrame(direction_, frame_));
        frame_.clear();
        expected_ = 0;
    }
}

// ---- the writer ------------------------------------------------------------------

LineTrace::LineTrace(const std::string& path) : target_(path) {
    auto refuse = [&](const std::string& why) {
        throw std::runtime_error("cannot write the trace file " + path + ": " + why);
    };
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = realpath(path.c_str(), nullptr);
        if (real == nullptr) refuse("a symbolic link to a file that is not there");
        target_ = real;
        std::free(real);
    }
    // Never opened unless it is a regular file: a FIFO would block, a device
    // (the camera's own port among them) would be written into.
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        refuse(S_ISDIR(st.st_mode) ? "it is a folder" : "not a regular file (a FIFO, a device or a socket)");
    }
    int fd = -1;
    if (exists) {
        // Replaced as a whole when the trace is closed; until then the old file stays.
        tmp_ = target_ + ".tmp" + std::to_string(::getpid());
        fd = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) fchmod(fd, st.st_mode & 07777);
    } else {
        fd = ::open(target_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    }
    if (fd < 0) refuse(std::strerror(errno));
    file_ = ::fdopen(fd, "w");
    if (file_ == nullptr) {
        ::close(fd);
        refuse(std::strerror(errno));
    }
    if (std::fputs(kHeader, file_) < 0 || std::fflush(file_) != 0) error_ = std::strerror(errno);
    started_ = Clock::now();
    thread_ = std::thread(&LineTrace::Run, this);
}

LineTrace::~LineTrace() {
    std::string error;
    Close(error);
}

void LineTrace::OnWriteError(std::function<void(const std::string&)> handler) {
    std::string already;
    {
        std::lock_guard lk(mutex_);
        onError_ = std::move(handler);
        already = error_;
    }
    if (!already.empty() && onError_) onError_(already);
}

std::string LineTrace::WriteError() {
    std::lock_guard lk(mutex_);
    return error_;
}

void LineTrace::Failed(const std::string& why) {
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard lk(mutex_);
        if (!error_.empty()) return;
        error_ = why;
        handler = onError_;
    }
    if (handler) handler(why);
}

bool LineTrace::Close(std::string& error) {
    if (closed_) {
        error = WriteError();
        return error.empty();
    }
    closed_ = true;
    {
        std::lock_guard lk(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (std::fclose(file_) != 0) Failed(std::strerror(errno));
    file_ = nullptr;
    error = WriteError();
    if (!tmp_.empty()) {
        if (error.empty() && ReplaceFile(tmp_.c_str(), target_.c_str()) != 0) error = std::strerror(errno);
        if (!error.empty()) ::unlink(tmp_.c_str());  // the old file stays as it was
    }
    if (!error.empty()) error = "the trace file " + target_ + " could not be written: " + error;
    return error.empty();
}

void LineTrace::Record(TraceDirection direction, const std::uint8_t* bytes, std::size_t count) {
    if (count == 0) return;
    const Clock::time_point at = Clock::now();
    bool full;
    {
        std::lock_guard lk(mutex_);
        chunks_.push_back(Chunk{at, direction, static_cast<std::uint32_t>(bytes_.size()), static_cast<std::uint32_t>(count)});
        bytes_.insert(bytes_.end(), bytes, bytes + count);
        ++recorded_;
        full = bytes_.size() >= kWakeBytes && bytes_.size() - count < kWakeBytes;
    }
    // No wake-up per record (that would cost the link a system call each
    // time): the writer comes by itself every kWriteEveryMs.
    if (full) wake_.notify_one();
}

void LineTrace::Flush() {
    std::unique_lock lk(mutex_);
    const std::uint64_t target = recorded_;
    flushTo_ = std::max(flushTo_, target);
    wake_.notify_one();
    written_.wait(lk, [&] { return done_ >= target; });
}

double LineTrace::WriterCpuSeconds() {
    clockid_t clock{};
    timespec ts{};
    if (pthread_getcpuclockid(thread_.native_handle(), &clock) != 0 || clock_gettime(clock, &ts) != 0) return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string LineTrace::Format(double seconds, TraceDirection direction, std::span<const std::uint8_t> bytes,
                              TraceDecoder& decoder) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char head[48];
    std::snprintf(head, sizeof head, "%12.6f %s ", seconds, DirectionText(direction));
    std::string out = head;
    out.reserve(out.size() + bytes.size() * 3 + 1);
    for (std::uint8_t b : bytes) {
        const char hex[3] = {' ', kDigits[b >> 4], kDigits[b & 15]};
        out.append(hex, 3);
    }
    out += "\n";
    std::vector<std::string> lines;
    decoder.Feed(bytes, lines);
    for (const std::string& l : lines) out += std::string(head) + " = " + l + "\n";
    return out;
}

void LineTrace::Run() {
    std::vector<Chunk> chunks;
    std::vector<std::uint8_t> bytes;
    std::unique_lock lk(mutex_);
    for (;;) {
        wake_.wait_for(lk, std::chrono::milliseconds(kWriteEveryMs),
                       [&] { return stop_ || flushTo_ > done_ || bytes_.size() >= kWakeBytes; });
        if (chunks_.empty()) {
            if (stop_) return;
            continue;
        }
        chunks.swap(chunks_);
        bytes.swap(bytes_);
        lk.unlock();
        std::string text;
        for (const Chunk& c : chunks) {
            const double s = std::chrono::duration<double>(c.at - started_).count();
            text += Format(s, c.direction, std::span<const std::uint8_t>(bytes.data() + c.offset, c.count),
                           c.direction == TraceDirection::ToCamera ? toCamera_ : fromCamera_);
        }
        if (WriteError().empty()) {
            if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
                Failed(std::strerror(errno));
            }
        }
        const std::uint64_t n = chunks.size();
        chunks.clear();
        bytes.clear();
        lk.lock();
        done_ += n;
        written_.notify_all();
    }
}

}  // namespace tern::link
