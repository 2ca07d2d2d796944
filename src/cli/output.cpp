#include "cli/output.h"

#include <iostream>

#ifdef _WIN32
#include <io.h>
#define TERN_ISATTY _isatty
#define TERN_STDERR 2
#else
#include <unistd.h>
#define TERN_ISATTY ::isatty
#define TERN_STDERR STDERR_FILENO
#endif

namespace tern::cli {

namespace {
thread_local std::ostream* tlsOut = nullptr;
thread_local std::ostream* tlsErr = nullptr;
thread_local bool tlsJson = false;
}  // namespace

std::ostream& Out() { return tlsOut != nullptr ? *tlsOut : std::cout; }
std::ostream& Err() { return tlsErr != nullptr ? *tlsErr : std::cerr; }
bool ErrIsTerminal() { return tlsErr == nullptr && TERN_ISATTY(TERN_STDERR) == 1; }
bool JsonMode() { return tlsJson; }

OutputRedirect::OutputRedirect(std::ostream& out, std::ostream& err, bool json) : out_(tlsOut), err_(tlsErr), json_(tlsJson) {
    tlsOut = &out;
    tlsErr = &err;
    tlsJson = json;
}

OutputRedirect::~OutputRedirect() {
    tlsOut = out_;
    tlsErr = err_;
    tlsJson = json_;
}

}  // namespace tern::cli
