// Settings files on Windows: written as they are (binary mode: text mode
// would turn CR LF into CR CR LF) into a temporary file beside the target,
// flushed, then moved over the old one with MoveFileEx (rename onto an
// existing file fails there); opened for reading, in binary mode, only when
// they are plain files on a disk.
//
// Names are UTF-8 (the program's arguments are, see src/cli/main_win32.cpp)
// and go to the wide API, so "カメラ\設定.dat" works whatever the system's
// code page. A name Windows keeps for a device (NUL, CON, PRN, AUX, COM1 to
// COM9, LPT1 to LPT9, also with an extension, in any case) is refused before
// it is opened, and an opened file that is not on a disk (GetFileType) too:
// "show COM1" must not open the camera's port, "backup NUL" must not read
// 514 frames into nothing.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "transfer/SettingsFile.h"

namespace tern::transfer {

namespace {
std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string ErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string s;
    if (n && text) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        s.resize(static_cast<std::size_t>(size));
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), s.data(), size, nullptr, nullptr);
    } else {
        s = "error " + std::to_string(code);
    }
    if (text) ::LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.' || s.back() == ' ')) s.pop_back();
    return s;
}

std::string LastError(const std::string& what) { return what + ": " + ErrorText(::GetLastError()); }

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

/// The device a name stands for on Windows ("nul.dat" -> "nul"), empty when none.
std::string ReservedDeviceName(const std::string& path) {
    // \\.\COM1, \\.\PhysicalDrive0: the device namespace itself.
    if (path.size() >= 4 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
        path[2] == '.' && (path[3] == '\\' || path[3] == '/'))
        return path.substr(4);
    const std::size_t slash = path.find_last_of("/\\:");
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // "nul.dat", "NUL .txt", "com1.": the part before the first dot, trailing spaces dropped.
    base = base.substr(0, base.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    std::string upper = base;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char* const kNames[] = {"NUL", "CON", "PRN", "AUX", "CONIN$", "CONOUT$"};
    for (const char* name : kNames)
        if (upper == name) return base;
    if (upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
        upper[3] >= '1' && upper[3] <= '9')
        return base;
    return {};
}

/// Empty when `path` is a plain file (or absent and `mayBeAbsent`), else why not.
std::string NotPlain(const std::string& path, bool mayBeAbsent, bool* exists = nullptr, DWORD* attributes = nullptr) {
    if (exists) *exists = false;
    if (const std::string device = ReservedDeviceName(path); !device.empty())
        return path + ": not a regular file (" + device + " is a device name on Windows)";
    const DWORD a = ::GetFileAttributesW(Wide(path).c_str());
    if (exists) *exists = a != INVALID_FILE_ATTRIBUTES;
    if (attributes) *attributes = a;
    if (a == INVALID_FILE_ATTRIBUTES) return mayBeAbsent ? std::string() : LastError(path);
    if (a & FILE_ATTRIBUTE_DIRECTORY) return path + ": not a regular file (a folder)";
    if (a & FILE_ATTRIBUTE_DEVICE) return path + ": not a regular file (a device)";
    return {};
}

// ---- temporary files an interruption removes ------------------------------------------
// A fixed table, so that the console control handler touches no allocator
// and no lock: a slot is claimed (1), filled, then published (2).
constexpr int kSlots = 8;
constexpr std::size_t kSlotChars = 4096;
struct Slot {
    std::atomic<int> state{0};
    wchar_t path[kSlotChars];
};
Slot g_slots[kSlots];

void Register(const std::wstring& path) {
    if (path.size() >= kSlotChars) return;  // not removed on an interruption
    for (Slot& s : g_slots) {
        int expected = 0;
        if (!s.state.compare_exchange_strong(expected, 1)) continue;
        std::copy(path.begin(), path.end(), s.path);
        s.path[path.size()] = L'\0';
        s.state.store(2);
        return;
    }
}

void Unregister(const std::wstring& path) {
    for (Slot& s : g_slots)
        if (s.state.load() == 2 && path == s.path) s.state.store(0);
}
}  // namespace

void RemovePendingFiles() {
    // The file is open here (shared for deletion): it goes when the process ends.
    for (Slot& s : g_slots)
        if (s.state.load() == 2) ::DeleteFileW(s.path);
}

bool PendingFile::Open(const std::string& path, bool replaceReadOnly, std::string& error, bool* readOnly) {
    Discard();
    if (readOnly != nullptr) *readOnly = false;
    target_ = path;
    bool existed = false;
    DWORD attributes = 0;
    if (std::string why = NotPlain(path, true, &existed, &attributes); !why.empty()) {
        error = why;
        return false;
    }
    if (existed && (attributes & FILE_ATTRIBUTE_READONLY) && !replaceReadOnly) {
        if (readOnly != nullptr) *readOnly = true;
        error = target_ + ": the file is read-only";
        return false;
    }
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        tmp_ = target_ + ".tmp" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(serial++);
        const std::wstring wide = Wide(tmp_);
        // Shared for deletion: an interruption removes it while it is open.
        const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS) continue;
            error = LastError("cannot create a file in " + FolderOf(target_));
            tmp_.clear();
            return false;
        }
        Register(wide);
        fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
        if (fd_ < 0) {
            ::CloseHandle(h);
            ::DeleteFileW(wide.c_str());
            Unregister(wide);
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
    if (!tmp_.empty()) {
        const std::wstring wide = Wide(tmp_);
        ::DeleteFileW(wide.c_str());
        Unregister(wide);
    }
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
    const std::wstring target = Wide(target_), tmp = Wide(tmp_);
    // A read-only target is replaced only when the caller said so (Open); the
    // new file keeps the old one's attributes, read-only among them.
    const DWORD old = ::GetFileAttributesW(target.c_str());
    if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(target.c_str(), old & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (!::MoveFileExW(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD e = ::GetLastError();
        if (old != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(target.c_str(), old);
        return fail("replace " + target_ + ": " + ErrorText(e));
    }
    Unregister(tmp);
    tmp_.clear();
    if (old != INVALID_FILE_ATTRIBUTES && old != FILE_ATTRIBUTE_NORMAL) ::SetFileAttributesW(target.c_str(), old);
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
    const HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = LastError(path);
        return -1;
    }
    // Asked of the handle itself: a device is not always told by its attributes.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        error = path + ": not a regular file (a device or a pipe)";
        return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        error = Errno(path);
    }
    return fd;
}

}  // namespace tern::transfer
