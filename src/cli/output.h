// Where a command's lines go. A command writes to Out() and Err(); they are
// stdout and stderr unless the thread runs one camera of many, whose lines
// are then gathered and prefixed with its device (many_cameras.h).
#pragma once

#include <ostream>
#include <string>

namespace tern::cli {

std::ostream& Out();
std::ostream& Err();
/// Whether Err() is a terminal (a progress bar rather than counts).
bool ErrIsTerminal();
/// --json: the command's stdout is one JSON object of its own fields, which
/// the caller completes (device, result, exit status) and prints.
bool JsonMode();

/// Sends this thread's Out() and Err() to other streams while it lives.
class OutputRedirect {
public:
    OutputRedirect(std::ostream& out, std::ostream& err, bool json);
    ~OutputRedirect();
    OutputRedirect(const OutputRedirect&) = delete;
    OutputRedirect& operator=(const OutputRedirect&) = delete;

private:
    std::ostream* out_;
    std::ostream* err_;
    bool json_;
};

}  // namespace tern::cli
