// Replacing a file whole on Windows: a temporary file beside it, written
// as it is (no text mode: CR LF stays CR LF), flushed, then moved over the
// old one with MoveFileEx (rename onto an existing file fails there).
#include <windows.h>

#include <atomic>

#include "transfer/SettingsFile.h"

namespace tern::transfer {

namespace {
std::string LastError(const std::string& what) {
    const DWORD code = ::GetLastError();
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string s = n && text ? std::string(text, n) : "error " + std::to_string(code);
    if (text) ::LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
    return what + ": " + s;
}
}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = path + ": not a regular file";
        return false;
    }

    static std::atomic<unsigned> serial{0};
    std::string tmp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = path + ".tmp" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(serial++);
        h = ::CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
            error = LastError("cannot create a file in " + dir);
            return false;
        }
    }
    if (h == INVALID_HANDLE_VALUE) {
        error = "cannot create a temporary file in " + dir;
        return false;
    }
    auto fail = [&](const std::string& why) {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
        ::DeleteFileA(tmp.c_str());
        error = why;
        return false;
    };
    const char* p = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 20));
        if (!::WriteFile(h, p, chunk, &n, nullptr) || n == 0) return fail(LastError("write"));
        p += n;
        left -= n;
    }
    if (!::FlushFileBuffers(h)) return fail(LastError("flush"));
    const BOOL closed = ::CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
    if (!closed) return fail(LastError("close"));
    if (!::MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail(LastError("replace " + path));
    return true;
}

}  // namespace tern::transfer
