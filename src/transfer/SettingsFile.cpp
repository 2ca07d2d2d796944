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

std::string BeyondNote(const SettingsScript& script) {
    std::string note;
    for (const SettingsRecord& r : script.records) {
        if (!NamesWord(script, r) || r.Address() <= kLastWord) continue;
        note += (note.empty() ? "" : "; ") + std::string("line ") + std::to_string(r.line) + ": word " +
                link::HexWordText(static_cast<std::uint16_t>(r.Address())) + " is beyond the memory (the last word is 1FF)";
    }
    return note.empty() ? note : note + "; not sent";
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
