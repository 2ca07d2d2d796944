// ternctl's entry on Windows. The arguments are taken from the wide command
// line and handed on as UTF-8 (file names with any characters, whatever the
// system's code page); the console shows UTF-8 output (its code page is set
// for the run and put back after); Ctrl-C, Ctrl-Break or the console window
// closed in the middle of a backup removes the file being written beside the
// target, and the program ends with exit status 130. The program itself is TernctlMain
// (ternctl.cpp).
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "link/ports.h"
#include "transfer/SettingsFile.h"

int TernctlMain(int argc, char** argv);

namespace {
UINT g_consoleCodePage = 0;  // the console's own output code page, put back at the end

constexpr UINT kInterrupted = 130;  // as a POSIX shell reports Ctrl-C

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    tern::transfer::RemovePendingFiles();
    if (g_consoleCodePage != 0) ::SetConsoleOutputCP(g_consoleCodePage);
    ::ExitProcess(kInterrupted);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (wide == nullptr) {
        std::fputs("ternctl: cannot read the command line\n", stderr);
        return 2;
    }
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(tern::link::Utf8(wide[i]));
    ::LocalFree(wide);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    g_consoleCodePage = ::GetConsoleOutputCP();  // 0 without a console
    if (g_consoleCodePage != 0) ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    const int rc = TernctlMain(argc, argv.data());
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    if (g_consoleCodePage != 0) ::SetConsoleOutputCP(g_consoleCodePage);
    return rc;
}
