#include "transfer/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace tern::transfer {

namespace {

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Digits(const link::Payload& p) {
    std::string s;
    for (int i = 1; i <= static_cast<int>(link::kPayloadSize); ++i) s += link::HexByteText(p[i]);
    return s;
}

}  // namespace

MemoryWords NoWords() {
    MemoryWords w;
    w.fill(kNoWord);
    return w;
}

// ---- writing ---------------------------------------------------------------------------

std::string WordRecord(int address, std::uint16_t value) {
    link::Payload p;
    p[1] = link::kGroupWrite;
    p[2] = link::kItemMemory;
    p[3] = static_cast<std::uint8_t>((address >> 8) & 0xFF);
    p[4] = static_cast<std::uint8_t>(address & 0xFF);
    p[5] = static_cast<std::uint8_t>(value >> 8);
    p[6] = static_cast<std::uint8_t>(value & 0xFF);
    return Digits(p) + "\r\n";
}

std::string ResetRecord() {
    link::Payload p;
    p[1] = link::kGroupReset;
    return Digits(p) + "\r\n";
}

std::string FormatSettingsFile(const MemoryWords& words) {
    std::string out;
    out.reserve(kSettingsFileSize);
    for (int a = 0; a < kFileWords; ++a) {
        const std::int32_t w = words[static_cast<std::size_t>(a)];
        out += WordRecord(a, w == kNoWord ? 0xFFFF : static_cast<std::uint16_t>(w & 0xFFFF));
    }
    out += ResetRecord();
    return out;
}

std::vector<int> MissingWords(const MemoryWords& words) {
    std::vector<int> missing;
    for (std::size_t a = 0; a < words.size(); ++a)
        if (words[a] == kNoWord) missing.push_back(static_cast<int>(a));
    return missing;
}

bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));

    struct stat old {};
    const bool existed = ::stat(path.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }

    // A name of our own next to the target, so the rename stays in one file system.
    static std::atomic<unsigned> serial{0};
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            error = Errno(("cannot create a file in " + dir).c_str());
            return false;
        }
    }
    if (fd < 0) {
        error = "cannot create a temporary file in " + dir;
        return false;
    }
    auto fail = [&](const std::string& why) {
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        error = why;
        return false;
    };
    if (existed) ::fchmod(fd, old.st_mode & 07777);  // best effort: the data matters more

    const char* p = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(n < 0 ? Errno("write") : std::string("write: nothing written"));
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return fail(Errno("fsync"));
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail(Errno("close"));
    if (::rename(tmp.c_str(), path.c_str()) != 0) return fail(Errno("rename"));
    // The rename itself is made durable with the folder.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

// ---- reading ------------------------------------------------------------------------------

std::string SettingsScript::FirstProblem() const {
    if (problems.empty()) return {};
    return "line " + std::to_string(problems.front().line) + ": " + problems.front().what;
}

bool ParseRecordLine(std::string_view line, link::Payload& payload, int& digits, std::string& problem) {
    problem.clear();
    payload = link::Payload{};
    digits = 0;
    std::size_t end = line.size();
    while (end > 0 && IsBlankChar(line[end - 1])) --end;
    if (end == 0) return false;  // blank
    for (std::size_t i = 0; i < end; ++i) {
        if (link::HexDigitValue(line[i]) < 0) {
            problem = "not a hexadecimal digit at column " + std::to_string(i + 1);
            return false;
        }
    }
    if (end > kRecordDigits) {
        problem = std::to_string(end) + " digits, a record has at most " + std::to_string(kRecordDigits);
        return false;
    }
    if (end % 2 != 0) {
        problem = "an odd number of digits (" + std::to_string(end) + "): a byte is cut in half";
        return false;
    }
    for (std::size_t i = 0; i < end; i += 2) {
        payload[static_cast<int>(i / 2) + 1] = static_cast<std::uint8_t>(link::HexPairValue(line[i], line[i + 1]));
    }
    digits = static_cast<int>(end);
    return true;
}

SettingsScript ParseSettings(std::string_view text) {
    SettingsScript script;
    std::size_t pos = 0;
    int number = 0;
    while (pos < text.size()) {
        if (text[pos] == 0x1A) break;  // Ctrl-Z: the end of the file
        ++number;
        const std::size_t lf = text.find('\n', pos);
        const bool cut = lf == std::string_view::npos;
        const std::string_view line = text.substr(pos, cut ? std::string_view::npos : lf - pos);
        pos = cut ? text.size() : lf + 1;

        SettingsRecord rec;
        rec.line = number;
        std::string problem;
        if (!ParseRecordLine(line, rec.payload, rec.digits, problem)) {
            if (!problem.empty()) script.problems.push_back({number, problem});
            continue;
        }
        if (cut && rec.digits != static_cast<int>(kRecordDigits)) {
            script.problems.push_back({number, "the file ends inside a record"});
            continue;
        }
        if (rec.IsWordWrite() && rec.digits < 12) {
            script.problems.push_back({number, "a word write without its address and value"});
            continue;
        }
        script.records.push_back(rec);
    }
    script.lines = number;
    return script;
}

bool ReadSettingsFile(const std::string& path, SettingsScript& script, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = Errno(path.c_str());
        return false;
    }
    std::string text;
    char buf[8192];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxSettingsFileSize) {
            error = path + ": too large for a settings file";
            return false;
        }
    }
    if (in.bad()) {
        error = path + ": read error";
        return false;
    }
    script = ParseSettings(text);
    return true;
}

MemoryWords WordsOf(const SettingsScript& script) {
    MemoryWords words = NoWords();
    for (const SettingsRecord& r : script.records) {
        if (!r.IsWordWrite() || r.Address() > kLastWord) continue;
        words[static_cast<std::size_t>(r.Address())] = r.Value();
    }
    return words;
}

MemoryBytes BlockBytesOf(const MemoryWords& words) {
    MemoryBytes bytes{};
    for (std::size_t a = 0; a < words.size(); ++a) {
        const std::int32_t w = words[a];
        bytes[2 * a] = w == kNoWord ? kNoWord : (w & 0xFF);
        bytes[2 * a + 1] = w == kNoWord ? kNoWord : ((w >> 8) & 0xFF);
    }
    return bytes;
}

}  // namespace tern::transfer
