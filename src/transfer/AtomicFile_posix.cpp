// Settings files on POSIX: replaced whole through a temporary file beside the
// target (fsync, rename, the folder made durable), and opened for reading
// only when they are regular files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "transfer/SettingsFile.h"

namespace tern::transfer {

namespace {
std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }
}  // namespace

namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a plain file";
}

std::string NotRegular(const std::string& path, mode_t mode) {
    return path + ": not a regular file (" + KindOf(mode) + ")";
}

// ---- temporary files an interruption removes ------------------------------------------
// A fixed table, so that the signal handler touches no allocator and no
// lock: a slot is claimed (1), filled, then published (2).
constexpr int kSlots = 8;
constexpr std::size_t kSlotChars = 4096;
struct Slot {
    std::atomic<int> state{0};
    char path[kSlotChars];
};
Slot g_slots[kSlots];
static_assert(std::atomic<int>::is_always_lock_free);

void Register(const std::string& path) {
    if (path.size() >= kSlotChars) return;  // not removed on an interruption
    for (Slot& s : g_slots) {
        int expected = 0;
        if (!s.state.compare_exchange_strong(expected, 1)) continue;
        std::memcpy(s.path, path.c_str(), path.size() + 1);
        s.state.store(2);
        return;
    }
}

void Unregister(const std::string& path) {
    for (Slot& s : g_slots)
        if (s.state.load() == 2 && path == s.path) s.state.store(0);
}

}  // namespace

void RemovePendingFiles() {
    for (Slot& s : g_slots)
        if (s.state.load() == 2) ::unlink(s.path);
}

bool PendingFile::Open(const std::string& path, bool replaceReadOnly, std::string& error, bool* readOnly) {
    Discard();
    if (readOnly != nullptr) *readOnly = false;
    target_ = path;
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        // Written through: the file the link names is replaced, the link stays.
        char* real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr) {
            error = path + ": a symbolic link to a file that is not there";
            return false;
        }
        target_ = real;
        std::free(real);
    }
    struct stat old {};
    const bool existed = ::stat(target_.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) {
        error = NotRegular(target_, old.st_mode);
        return false;
    }
    if (existed && (old.st_mode & 0222) == 0 && !replaceReadOnly) {
        if (readOnly != nullptr) *readOnly = true;
        error = target_ + ": the file is read-only";
        return false;
    }
    const std::string dir = FolderOf(target_);
    // A name of our own next to the target, so the rename stays in one file system.
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        tmp_ = target_ + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
        fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd_ >= 0) Register(tmp_);
        if (fd_ < 0 && errno != EEXIST) {
            error = Errno(("cannot create a file in " + dir).c_str());
            tmp_.clear();
            return false;
        }
    }
    if (fd_ < 0) {
        error = "cannot create a temporary file in " + dir;
        tmp_.clear();
        return false;
    }
    if (existed) ::fchmod(fd_, old.st_mode & 07777);  // best effort: the data matters more
    return true;
}

void PendingFile::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!tmp_.empty()) {
        ::unlink(tmp_.c_str());
        Unregister(tmp_);
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
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(n < 0 ? Errno("write") : std::string("write: nothing written"));
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd_) != 0) return fail(Errno("fsync"));
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) return fail(Errno("close"));
    if (::rename(tmp_.c_str(), target_.c_str()) != 0) return fail(Errno("rename"));
    Unregister(tmp_);
    tmp_.clear();
    // The rename itself is made durable with the folder.
    const int dfd = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error) {
    PendingFile file;
    return file.Open(path, true, error) && file.Commit(contents, error);
}

int OpenRegularFile(const std::string& path, std::string& error) {
    // Checked before the open too: opening a FIFO blocks, opening a serial
    // device changes its lines.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = Errno(path.c_str());
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        error = NotRegular(path, st.st_mode);
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = Errno(path.c_str());
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // swapped meanwhile
        error = NotRegular(path, st.st_mode);
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace tern::transfer
