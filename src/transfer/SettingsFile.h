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
// Reading is strict: every non-blank line must be 2 to 30 hexadecimal digits,
// an even number of them (either case), optionally followed by spaces or tabs
// and CR. Anything else is reported with its line number and the file is not
// used, so half a record is never sent. Digits a short record does not give
// are zero. A Ctrl-Z at the start of a line ends the file; a last line without
// its LF counts only when it is a whole 30-digit record (else the file was cut
// short).
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

/// Replaces `path` with `contents` so that the file is either the old one or
/// the new one, never a mixture: a temporary file in the same folder, every
/// write checked, fsync, close checked, rename over the target, fsync of the
/// folder. An existing file keeps its permission bits. On failure the
/// temporary file is removed, `error` tells why and false is returned.
bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error);

// ---- reading -----------------------------------------------------------------------

/// One well-formed record: its line (from 1), the payload (bytes the record
/// does not give are zero) and how many digits it had.
struct SettingsRecord {
    int line = 0;
    link::Payload payload;
    int digits = 0;

    bool IsWordWrite() const { return payload[1] == link::kGroupWrite && payload[2] == link::kItemMemory; }
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

struct SettingsScript {
    std::vector<SettingsRecord> records;  ///< in file order; blank lines are not records
    std::vector<SettingsProblem> problems;
    int lines = 0;  ///< lines seen before the end (or the Ctrl-Z)

    bool Ok() const { return problems.empty(); }
    /// "line 7: ..." for the first problem; empty when there is none.
    std::string FirstProblem() const;
};

/// Reads one line (without its LF) as a record. False with `problem` set when
/// it is not one; a blank line is not a record either (problem left empty).
bool ParseRecordLine(std::string_view line, link::Payload& payload, int& digits, std::string& problem);

/// Reads a file's text line by line. Word writes without their address and
/// value digits are problems too: a file must not write a guessed word.
SettingsScript ParseSettings(std::string_view text);

/// Reads a file; a file that cannot be read (or is far too big for a settings
/// file) gives false with `error` set.
bool ReadSettingsFile(const std::string& path, SettingsScript& script, std::string& error);

/// The words a script writes, as the block copy sees them: word writes (21 0C)
/// to addresses up to 0x1FF, the last one for a word winning. Other records
/// (the reset, reads, other items) and higher addresses name no word.
MemoryWords WordsOf(const SettingsScript& script);

/// The block's byte view of `words`: entry 2a the low byte, 2a+1 the high byte.
/// A word not known is kNoWord in both entries (the block must not go out then).
MemoryBytes BlockBytesOf(const MemoryWords& words);

}  // namespace tern::transfer
