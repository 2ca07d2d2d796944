// Settings files: the camera's settings memory as a script of camera
// commands. Each record is one command payload of 15 bytes written as 30
// upper-case hexadecimal digits and CR LF, 32 bytes:
//
//   210C aaaa vvvv 000000000000000000   word write: address a, value v, high bytes first
//   F1 0000...                           the camera reset, last record of a whole file
//
// A whole file holds the records for words 0x000..0x1FE in ascending order
// (word 0x1FF is read but not written) and the reset record: 512 records,
// 16384 bytes.
//
// A file is read one of two ways:
//  - as a script (the single copy replays it, one command a record): every
//    non-blank line must be 2 to 30 hexadecimal digits, an even number of them
//    (either case), optionally followed by spaces or tabs and CR. Anything else
//    is reported with its line number and the file is not used, so half a
//    record is never sent. Digits a short record does not give are zero.
//  - as a block (the batch copy, diff): only lines that start with "21" are
//    records, and each of them names a word by its address whatever its item
//    says; every other line (a comment, a reset, a read) is skipped. A "21"
//    line that is not a whole record (item, address and value at least) is
//    reported, as above: the block must not carry a guessed word.
// Both ways: a Ctrl-Z at the start of a line ends the file (what follows is
// counted, so it can be told); a last line without its LF counts only when it
// is a whole 30-digit record (else the file was cut short).
//
// No Qt here: the window's Copy page and ternctl share it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/codec.h"
#include "link/protocol.h"

namespace tern::transfer {

inline constexpr std::size_t kRecordSize = 32;    // 30 digits and CR LF
inline constexpr std::size_t kRecordDigits = 30;
/// Words a whole file carries records for: 0x000..0x1FE.
inline constexpr int kFileWords = 511;
inline constexpr int kLastWord = static_cast<int>(link::kMemoryWords) - 1;  // 0x1FF
inline constexpr std::size_t kSettingsFileSize = (kFileWords + 1) * kRecordSize;  // 16384
/// A larger file is no settings file; it is refused before it is read whole.
inline constexpr std::size_t kMaxSettingsFileSize = 1 << 20;
/// Marks a memory word not (yet) known: not received, or not named by a file.
inline constexpr std::int32_t kNoWord = -1;

inline constexpr const char* kMsgFileWrite = "File write Error occured";
inline constexpr const char* kMsgFileRead = "File read Error occured";
inline constexpr const char* kCapFile = "File.ERR";

/// The camera's 512 memory words, kNoWord where a word is not known.
using MemoryWords = std::array<std::int32_t, link::kMemoryWords>;
/// The block frame's view: entry 2a the low byte, 2a+1 the high byte of word a.
using MemoryBytes = std::array<std::int32_t, link::kBlockDataSize>;

MemoryWords NoWords();

// ---- writing -----------------------------------------------------------------------

/// The 32 bytes of the record that writes `value` into word `address`.
std::string WordRecord(int address, std::uint16_t value);
/// The 32 bytes of the reset record.
std::string ResetRecord();
/// A whole file: records for words 0..0x1FE, then the reset record. A word
/// not known is written as FFFF (callers that must not invent data check
/// MissingWords first).
std::string FormatSettingsFile(const MemoryWords& words);
/// The addresses of words not known, ascending.
std::vector<int> MissingWords(const MemoryWords& words);

/// A file about to be replaced as a whole: the temporary file is created
/// beside the target when the copy starts (so a folder that cannot be written
/// is known before anything is read), and renamed over the target once every
/// byte is written. A symbolic link is written through: its target is
/// replaced, beside the target. A target that is not a regular file, or a
/// read-only one (unless `replaceReadOnly`), is refused. The old file is
/// either kept or replaced whole, never a mixture.
class PendingFile {
public:
    PendingFile() = default;
    ~PendingFile() { Discard(); }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    /// False with `error` set when the target cannot be replaced; `readOnly`
    /// tells that the only obstacle was the target's missing write permission.
    bool Open(const std::string& path, bool replaceReadOnly, std::string& error, bool* readOnly = nullptr);
    /// Writes `contents` (every write checked, fsync, close checked), renames
    /// over the target and makes the rename durable. On failure the temporary
    /// file is removed and the target is as it was.
    bool Commit(std::string_view contents, std::string& error);
    /// Removes the temporary file; the target is left as it was.
    void Discard();
    bool IsOpen() const { return fd_ >= 0; }
    /// The file that is replaced: the path, or the target of its link.
    const std::string& Target() const { return target_; }

private:
    int fd_ = -1;
    std::string target_;
    std::string tmp_;
};

/// Removes the temporary file of every PendingFile not yet committed or
/// discarded, for an interruption (Ctrl-C) that ends the program in the
/// middle of a copy. Async-signal-safe: a signal handler or a console control
/// handler calls it; it touches nothing else.
void RemovePendingFiles();

/// Replaces `path` with `contents` through a PendingFile (read-only targets
/// included: the caller has asked). An existing file keeps its permission
/// bits. On failure `error` tells why and false is returned.
bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error);

/// Opens `path` for reading only when it is a regular file, without ever
/// blocking (a FIFO or a device is refused before it is opened, and checked
/// again on the open file). -1 with `error` set otherwise.
int OpenRegularFile(const std::string& path, std::string& error);

// ---- reading -----------------------------------------------------------------------

/// One well-formed record: its line (from 1), the payload (bytes the record
/// does not give are zero) and how many digits it had.
struct SettingsRecord {
    int line = 0;
    link::Payload payload;
    int digits = 0;

    /// A memory-word write: 21 0C, or 21 0F (the word and the register it stands for).
    bool IsWordWrite() const {
        return payload[1] == link::kGroupWrite && (payload[2] == link::kItemMemory || payload[2] == link::kItemMemoryRam);
    }
    bool IsReset() const { return payload[1] == link::kGroupReset; }
    int Address() const { return payload[3] * 256 + payload[4]; }
    std::uint16_t Value() const { return static_cast<std::uint16_t>(payload[5] * 256 + payload[6]); }
};

/// A line that is not a well-formed record, or a word write the file cannot
/// be trusted with.
struct SettingsProblem {
    int line = 0;
    std::string what;
};

/// How a file is read: as a script of commands (single copy, show) or as the
/// words of a block (batch copy, diff).
enum class ReadAs { Script, Block };

/// A word the file writes more than once with different values.
struct ConflictingWord {
    int address = 0;
    std::vector<int> lines;  ///< the records that write it, in file order; the last wins
};

struct SettingsScript {
    ReadAs as = ReadAs::Script;
    std::vector<SettingsRecord> records;  ///< in file order; blank lines are not records
    std::vector<SettingsProblem> problems;
    /// Block: the lines skipped because they do not start with "21".
    std::vector<int> skipped;
    int lines = 0;  ///< lines seen before the end (or the Ctrl-Z)
    /// The line whose first byte is the Ctrl-Z that ended the file (0: none),
    /// and how many bytes followed that Ctrl-Z unread.
    int ctrlZLine = 0;
    std::size_t unreadAfterCtrlZ = 0;

    bool Ok() const { return problems.empty(); }
    /// "line 7: ..." for the first problem; empty when there is none.
    std::string FirstProblem() const;
    /// "the file ends at the Ctrl-Z on line 100; 32 bytes after it were not
    /// read", when bytes follow the Ctrl-Z; empty otherwise.
    std::string CtrlZNote() const;
};

/// Reads one line (without its LF) as a record. False with `problem` set when
/// it is not one; a blank line is not a record either (problem left empty).
bool ParseRecordLine(std::string_view line, link::Payload& payload, int& digits, std::string& problem);

/// Reads a file's text line by line. Word writes without their address and
/// value digits are problems too: a file must not write a guessed word.
SettingsScript ParseSettings(std::string_view text, ReadAs as = ReadAs::Script);

/// Reads a file; a file that cannot be read, is not a regular file (a FIFO,
/// a folder, a device) or is far too big for a settings file gives false with
/// `error` set.
bool ReadSettingsFile(const std::string& path, SettingsScript& script, std::string& error, ReadAs as = ReadAs::Script);

/// Whether a record writes memory word Address(): read as a block every
/// record does; read as a script the memory-word writes (21 0C, 21 0F) do.
bool NamesWord(const SettingsScript& script, const SettingsRecord& record);

/// The words a file writes, to addresses up to 0x1FF, the last record for a
/// word winning. Records that name no word and higher addresses are left out.
MemoryWords WordsOf(const SettingsScript& script);

/// The words written more than once with different values, by address.
std::vector<ConflictingWord> ConflictingWords(const SettingsScript& script);
/// "words 012 and 014 are written more than once with different values; the
/// last record of each is used", empty when there are none.
std::string ConflictNote(const std::vector<ConflictingWord>& conflicts);
/// The block carries words 000..1FF: a word record beyond them is passed by,
/// and this says so ("line 2: word 0200 is beyond the memory ...; not sent");
/// empty when there is none.
std::string BeyondNote(const SettingsScript& script);

/// The block's byte view of `words`: entry 2a the low byte, 2a+1 the high byte.
/// A word not known is kNoWord in both entries (the block must not go out then).
MemoryBytes BlockBytesOf(const MemoryWords& words);

}  // namespace tern::transfer
