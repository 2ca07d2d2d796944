// Settings files on Windows: written as they are (binary mode: text mode
// would turn CR LF into CR CR LF) into a temporary file beside the target,
// flushed, then moved over the old one with MoveFileEx (rename onto an
// existing file fails there); opened for reading, in binary mode, only when
// they are plain files.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "transfer/SettingsFile.h"

namespace tern::transfer {

namespace {
std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

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

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

/// Empty when `path` is a plain file (or absent and `mayBeAbsent`), else why not.
std::string NotPlain(const std::string& path, bool mayBeAbsent, bool* exists = nullptr, bool* readOnly = nullptr) {
    const DWORD a = ::GetFileAttributesA(path.c_str());
    if (exists) *exists = a != INVALID_FILE_ATTRIBUTES;
    if (a == INVALID_FILE_ATTRIBUTES) return mayBeAbsent ? std::string() : LastError(path);
    if (readOnly) *readOnly = (a & FILE_ATTRIBUTE_READONLY) != 0;
    if (a & FILE_ATTRIBUTE_DIRECTORY) return path + ": not a regular file (a folder)";
    if (a & FILE_ATTRIBUTE_DEVICE) return path + ": not a regular file (a device)";
    return {};
}
}  // namespace

bool PendingFile::Open(const std::string& path, bool replaceReadOnly, std::string& error, bool* readOnly) {
    Discard();
    if (readOnly != nullptr) *readOnly = false;
    target_ = path;
    bool existed = false, ro = false;
    if (std::string why = NotPlain(path, true, &existed, &ro); !why.empty()) {
        error = why;
        return false;
    }
    if (existed && ro && !replaceReadOnly) {
        if (readOnly != nullptr) *readOnly = true;
        error = target_ + ": the file is read-only";
        return false;
    }
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        tmp_ = target_ + ".tmp" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(serial++);
        fd_ = ::_open(tmp_.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
        if (fd_ < 0 && errno != EEXIST) {
            error = Errno("cannot create a file in " + FolderOf(target_));
            tmp_.clear();
            return false;
        }
    }
    if (fd_ < 0) {
        error = "cannot create a temporary file in " + FolderOf(target_);
        tmp_.clear();
        return false;
    }
    return true;
}

void PendingFile::Discard() {
    if (fd_ >= 0) ::_close(fd_);
    fd_ = -1;
    if (!tmp_.empty()) ::DeleteFileA(tmp_.c_str());
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
        const int chunk = static_cast<int>(std::min<std::size_t>(left, 1u << 20));
        const int n = ::_write(fd_, p, static_cast<unsigned>(chunk));
        if (n <= 0) return fail(n < 0 ? Errno("write") : std::string("write: nothing written"));
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::_commit(fd_) != 0) return fail(Errno("flush"));
    const int closed = ::_close(fd_);
    fd_ = -1;
    if (closed != 0) return fail(Errno("close"));
    // A read-only target is replaced only when the caller said so (Open).
    ::SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::MoveFileExA(tmp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail(LastError("replace " + target_));
    tmp_.clear();
    return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error) {
    PendingFile file;
    return file.Open(path, true, error) && file.Commit(contents, error);
}

int OpenRegularFile(const std::string& path, std::string& error) {
    if (std::string why = NotPlain(path, false); !why.empty()) {
        error = why;
        return -1;
    }
    const int fd = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) error = Errno(path);
    return fd;
}

}  // namespace tern::transfer
