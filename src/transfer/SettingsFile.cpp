#include "transfer/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <map>

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

namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a plain file";
}

std::string NotRegular(const std::string& path, mode_t mode) {
    return path + ": not a regular file (" + KindOf(mode) + ")";
}

}  // namespace

bool PendingFile::Open(const std::string& path, bool replaceReadOnly, std::string& error, bool* readOnly) {
    Discard();
    if (readOnly != nullptr) *readOnly = false;
    target_ = path;
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        // Written through: the file the link names is replaced, the link stays.
        char* real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr) {
            error = path + ": a symbolic link to a file that is not there";
            return false;
        }
        target_ = real;
        std::free(real);
    }
    struct stat old {};
    const bool existed = ::stat(target_.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) {
        error = NotRegular(target_, old.st_mode);
        return false;
    }
    if (existed && (old.st_mode & 0222) == 0 && !replaceReadOnly) {
        if (readOnly != nullptr) *readOnly = true;
        error = target_ + ": the file is read-only";
        return false;
    }
    const std::string dir = FolderOf(target_);
    // A name of our own next to the target, so the rename stays in one file system.
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        tmp_ = target_ + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
        fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd_ < 0 && errno != EEXIST) {
            error = Errno(("cannot create a file in " + dir).c_str());
            tmp_.clear();
            return false;
        }
    }
    if (fd_ < 0) {
        error = "cannot create a temporary file in " + dir;
        tmp_.clear();
        return false;
    }
    if (existed) ::fchmod(fd_, old.st_mode & 07777);  // best effort: the data matters more
    return true;
}

void PendingFile::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!tmp_.empty()) ::unlink(tmp_.c_str());
    tmp_.clear();
}

bool PendingFile::Commit(std::string_view contents, std::string& error) {
    if (fd_ < 0) {
        error = "no file prepared";
        return false;
    }
    auto fail = [&](const std::string& why) {
        Discard();
        error = why;
        return false;
    };
    const char* p = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(n < 0 ? Errno("write") : std::string("write: nothing written"));
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd_) != 0) return fail(Errno("fsync"));
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) return fail(Errno("close"));
    if (::rename(tmp_.c_str(), target_.c_str()) != 0) return fail(Errno("rename"));
    tmp_.clear();
    // The rename itself is made durable with the folder.
    const int dfd = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error) {
    PendingFile file;
    return file.Open(path, true, error) && file.Commit(contents, error);
}

int OpenRegularFile(const std::string& path, std::string& error) {
    // Checked before the open too: opening a FIFO blocks, opening a serial
    // device changes its lines.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = Errno(path.c_str());
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        error = NotRegular(path, st.st_mode);
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = Errno(path.c_str());
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // swapped meanwhile
        error = NotRegular(path, st.st_mode);
        ::close(fd);
        return -1;
    }
    return fd;
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

SettingsScript ParseSettings(std::string_view text, ReadAs as) {
    SettingsScript script;
    script.as = as;
    std::size_t pos = 0;
    int number = 0;
    while (pos < text.size()) {
        if (text[pos] == 0x1A) {  // Ctrl-Z: the end of the file
            script.ctrlZLine = number + 1;
            script.unreadAfterCtrlZ = text.size() - pos - 1;
            break;
        }
        ++number;
        const std::size_t lf = text.find('\n', pos);
        const bool cut = lf == std::string_view::npos;
        const std::string_view line = text.substr(pos, cut ? std::string_view::npos : lf - pos);
        pos = cut ? text.size() : lf + 1;

        if (as == ReadAs::Block && !(line.size() >= 2 && line[0] == '2' && line[1] == '1')) {
            // Not a word record: the block copy passes it by.
            if (line.find_first_not_of(" \t\r") != std::string_view::npos) script.skipped.push_back(number);
            continue;
        }
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
        if ((as == ReadAs::Block || rec.IsWordWrite()) && rec.digits < 12) {
            script.problems.push_back({number, "a word write without its address and value"});
            continue;
        }
        script.records.push_back(rec);
    }
    script.lines = number;
    return script;
}

std::string SettingsScript::CtrlZNote() const {
    if (ctrlZLine == 0 || unreadAfterCtrlZ == 0) return {};
    return "the file ends at the Ctrl-Z on line " + std::to_string(ctrlZLine) + "; " + std::to_string(unreadAfterCtrlZ) +
           (unreadAfterCtrlZ == 1 ? " byte after it was" : " bytes after it were") + " not read";
}

bool ReadSettingsFile(const std::string& path, SettingsScript& script, std::string& error, ReadAs as) {
    const int fd = OpenRegularFile(path, error);
    if (fd < 0) return false;
    std::string text;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = Errno(path.c_str());
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > kMaxSettingsFileSize) {
            ::close(fd);
            error = path + ": too large for a settings file";
            return false;
        }
    }
    ::close(fd);
    script = ParseSettings(text, as);
    return true;
}

bool NamesWord(const SettingsScript& script, const SettingsRecord& record) {
    return script.as == ReadAs::Block ? record.payload[1] == link::kGroupWrite : record.IsWordWrite();
}

MemoryWords WordsOf(const SettingsScript& script) {
    MemoryWords words = NoWords();
    for (const SettingsRecord& r : script.records) {
        if (!NamesWord(script, r) || r.Address() > kLastWord) continue;
        words[static_cast<std::size_t>(r.Address())] = r.Value();
    }
    return words;
}

std::vector<ConflictingWord> ConflictingWords(const SettingsScript& script) {
    std::map<int, std::vector<const SettingsRecord*>> byAddress;
    for (const SettingsRecord& r : script.records)
        if (NamesWord(script, r) && r.Address() <= kLastWord) byAddress[r.Address()].push_back(&r);
    std::vector<ConflictingWord> out;
    for (const auto& [address, recs] : byAddress) {
        bool differ = false;
        for (const SettingsRecord* r : recs) differ = differ || r->Value() != recs.front()->Value();
        if (!differ) continue;
        ConflictingWord c;
        c.address = address;
        for (const SettingsRecord* r : recs) c.lines.push_back(r->line);
        out.push_back(std::move(c));
    }
    return out;
}

std::string ConflictNote(const std::vector<ConflictingWord>& conflicts) {
    if (conflicts.empty()) return {};
    std::string s = conflicts.size() == 1 ? "word " : "words ";
    for (std::size_t i = 0; i < conflicts.size(); ++i) {
        if (i == 8) {
            s += " and " + std::to_string(conflicts.size() - i) + " more";
            break;
        }
        s += (i ? " " : "") + link::HexWordText(static_cast<std::uint16_t>(conflicts[i].address)).substr(1);
    }
    return s + (conflicts.size() == 1 ? " is" : " are") +
           " written more than once with different values; the last record of each is used";
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
