// ternctl's entry on Linux: an interruption (Ctrl-C, SIGTERM, the terminal
// closed) in the middle of a backup removes the file being written beside
// the target, then ends the program as the signal would (exit status 130
// for Ctrl-C). The program itself is TernctlMain (ternctl.cpp).
#include <signal.h>

#include "transfer/SettingsFile.h"

int TernctlMain(int argc, char** argv);

namespace {
extern "C" void OnInterrupt(int sig) {
    tern::transfer::RemovePendingFiles();
    // Ended by the signal itself, so the caller sees how the program ended.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}
}  // namespace

int main(int argc, char** argv) {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // A signal ignored by whoever started us (nohup) stays ignored.
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &action, nullptr);
    }
    return TernctlMain(argc, argv);
}
